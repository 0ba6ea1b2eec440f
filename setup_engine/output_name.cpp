#include "setup_engine/output_name.h"

#include "setup_engine/text.h"

namespace orvo::setup {

OutputName ParseMsiPackageName(const std::wstring& arguments) {
    static const wchar_t* const kFlags[] = {L"/i ", L"/package ", L"/x ", L"/uninstall ", L"/p ", L"/update "};
    OutputName result;
    for (const wchar_t* flag : kFlags) {
        const size_t at = IFind(arguments, flag);
        if (at == std::wstring::npos) continue;
        size_t start = at + std::wstring(flag).size();
        while (start < arguments.size() && arguments[start] == L' ') ++start;
        std::wstring name;
        if (start < arguments.size() && arguments[start] == L'"') {
            const size_t close = arguments.find(L'"', start + 1);
            name = arguments.substr(start + 1, close == std::wstring::npos ? std::wstring::npos : close - start - 1);
        } else {
            size_t end = arguments.find(L" /", start);
            const size_t space = arguments.find(L' ', start);
            if (space < end) end = space;
            name = arguments.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        }
        if (name.empty()) return result;
        result.found = true;
        result.name = name;
        result.isProductCode = name[0] == L'{';
        return result;
    }
    return result;
}

bool IsAbsolutePath(const std::wstring& path) {
    if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\') return true;
    return path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

std::wstring JoinOutputPath(const std::wstring& folder, const std::wstring& name) {
    if (IsAbsolutePath(name)) return name;
    if (folder.empty() || folder.back() == L'\\') return folder + name;
    return folder + L'\\' + name;
}

}  // namespace orvo::setup
