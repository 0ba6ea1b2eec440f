# Common settings for every target of the project.
add_library(orvo_options INTERFACE)
target_compile_options(orvo_options INTERFACE -Wall -Wextra -Werror)
target_compile_definitions(orvo_options INTERFACE
  UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
target_include_directories(orvo_options INTERFACE ${CMAKE_BINARY_DIR}/include ${CMAKE_SOURCE_DIR})
# A CodeView "RSDS" debug record (GUID and age of this very build) in every
# module: trace decoders match a module to its unstripped build by it.
target_link_options(orvo_options INTERFACE -Wl,--build-id)

# A shipped binary: its imports are checked (system DLLs only) and it is staged
# in ORVO_DIST_DIR as the installed product lays it out, without debug
# information (the build tree keeps the unstripped module).
function(orvo_ship target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/check-runtime-imports.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:${target}>
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ORVO_DIST_DIR}
    COMMAND ${CMAKE_OBJCOPY} --strip-debug $<TARGET_FILE:${target}> ${ORVO_DIST_DIR}/$<TARGET_FILE_NAME:${target}>
    VERBATIM)
endfunction()
