# Common settings for every target of the project.
add_library(orvo_options INTERFACE)
target_compile_options(orvo_options INTERFACE -Wall -Wextra -Werror)
target_compile_definitions(orvo_options INTERFACE
  UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
target_include_directories(orvo_options INTERFACE ${CMAKE_BINARY_DIR}/include ${CMAKE_SOURCE_DIR})

# A shipped binary: its imports are checked (system DLLs only) and it is staged
# in ORVO_DIST_DIR as the installed product lays it out.
function(orvo_ship target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/check-runtime-imports.sh ${CMAKE_OBJDUMP} $<TARGET_FILE:${target}>
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ORVO_DIST_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${target}> ${ORVO_DIST_DIR}/
    VERBATIM)
endfunction()
