#include "uninstaller/engine.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <vector>

#include "setup_engine/text.h"
#include "uninstaller/help_dialog.h"
#include "uninstaller/resource_ids.h"
#include "win32/unique_reg_key.h"

namespace orvo::uninstaller {
namespace {

constexpr const wchar_t* kLogFileName = L"Zel_Setup_Package.log";
constexpr const wchar_t* kSingleInstanceMutex = L"InstallationBootstrapperSingleInstance";

std::wstring LongPath(const std::wstring& path) {
    wchar_t buffer[MAX_PATH * 2];
    const DWORD length = ::GetLongPathNameW(path.c_str(), buffer, MAX_PATH * 2);
    return length > 0 && length < MAX_PATH * 2 ? std::wstring(buffer, length) : path;
}

std::wstring WithBackslash(std::wstring path) {
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    return path;
}

std::wstring ModulePath(HMODULE module) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

// ProductVersion of the executable's version resource: the first translation
// listed, else English with the Unicode code page.
std::wstring OwnProductVersion(const std::wstring& exePath) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(exePath.c_str(), &ignored);
    if (size == 0) return {};
    std::vector<BYTE> data(size);
    if (!::GetFileVersionInfoW(exePath.c_str(), 0, size, data.data())) return {};
    WORD language = 1033, codePage = 1200;
    WORD* translations = nullptr;
    UINT length = 0;
    if (::VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &length) &&
        length >= 2 * sizeof(WORD)) {
        language = translations[0];
        codePage = translations[1];
    }
    wchar_t query[64];
    ::wnsprintfW(query, 64, L"\\StringFileInfo\\%04x%04x\\ProductVersion", language, codePage);
    wchar_t* value = nullptr;
    if (!::VerQueryValueW(data.data(), query, reinterpret_cast<void**>(&value), &length) || !value) return {};
    return value;
}

std::wstring RegistryString(HKEY root, const wchar_t* key, const wchar_t* value) {
    win32::UniqueRegKey opened;
    if (::RegOpenKeyExW(root, key, 0, KEY_READ, opened.put()) != ERROR_SUCCESS) return {};
    wchar_t buffer[MAX_PATH];
    DWORD size = sizeof buffer - sizeof(wchar_t), type = 0;
    if (::RegQueryValueExW(opened.get(), value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    buffer[size / sizeof(wchar_t)] = L'\0';
    return buffer;
}

}  // namespace

HMODULE LoadResourceModule(const std::wstring& path) {
    return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
}

SetupEngine::SetupEngine(setup::CommandLine commandLine, HMODULE parentLanguage)
    : m_command(std::move(commandLine)), m_parentLanguage(parentLanguage) {
    wchar_t temp[MAX_PATH + 1];
    const DWORD tempLength = ::GetTempPathW(MAX_PATH + 1, temp);
    m_tempFolder = WithBackslash(LongPath(tempLength ? std::wstring(temp, tempLength) : std::wstring()));
    m_exePath = ModulePath(nullptr);
    const size_t slash = m_exePath.find_last_of(L'\\');
    m_sourceDirectory = WithBackslash(LongPath(m_exePath.substr(0, slash)));
    std::wstring base = m_exePath.substr(slash + 1);
    const size_t dot = base.find_last_of(L'.');
    if (dot != std::wstring::npos) base.resize(dot);
    m_packageName = base;
    if (setup::IStartsWith(base, L"uninstall")) m_packageName += L"_" + OwnProductVersion(m_exePath);
    m_prompts.SetPackageName(m_packageName);
    m_languagePath = L"InstallationBootstrapperLang" + m_packageName + L".dll";

    std::wstring logFolderName = m_packageName;
    for (auto& c : logFolderName)
        if (c == L'-') c = L'_';
    std::wstring logPath = m_tempFolder + logFolderName + L"\\" + kLogFileName;
    if (!m_command.logPath.empty()) logPath = m_command.logPath;
    const size_t logSlash = logPath.find_last_of(L'\\');
    if (logSlash != std::wstring::npos) ::SHCreateDirectoryExW(nullptr, logPath.substr(0, logSlash).c_str(), nullptr);
    m_log.Open(logPath, m_command.Has(setup::kFlagLogging));

    m_setupType = m_command.Has(setup::kFlagSetupType) ? m_command.setupType : L"default";
    m_prompts.SetSilent(setup::IStartsWith(m_setupType, L"silent"));

    wchar_t windows[MAX_PATH];
    const UINT windowsLength = ::GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring windowsDir = windowsLength && windowsLength < MAX_PATH ? std::wstring(windows, windowsLength) : L"";
    m_paths.systemDrive = windowsDir.size() >= 2 && windowsDir[1] == L':' ? windowsDir.substr(0, 2) : L"C:";
    m_paths.programFiles = RegistryString(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesDir");
    if (m_paths.programFiles.empty()) m_paths.programFiles = m_paths.systemDrive + L"\\Program Files";
    m_paths.windows = windowsDir.empty() ? m_paths.systemDrive + L"\\Windows" : windowsDir;
    wchar_t system[MAX_PATH];
    const UINT systemLength = ::GetSystemDirectoryW(system, MAX_PATH);
    m_paths.system32 = systemLength && systemLength < MAX_PATH ? std::wstring(system, systemLength)
                                                               : m_paths.systemDrive + L"\\Windows\\System32";
    Log(L"*** InstallationBootstrapper - Start. ***");
}

SetupEngine::~SetupEngine() {
    Log(L"*** InstallationBootstrapper - Finish. ***");
}

std::wstring SetupEngine::LogFolder() const {
    const size_t slash = m_log.Path().find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : m_log.Path().substr(0, slash);
}

bool SetupEngine::FindPackageResource(const wchar_t* type, const wchar_t* name, const void** data, DWORD* size) const {
    for (HMODULE module : {m_parentLanguage, ExeModule()}) {
        if (!module) continue;
        HRSRC found = ::FindResourceW(module, name, type);
        HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
        const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
        if (bytes) {
            *data = bytes;
            *size = ::SizeofResource(module, found);
            return true;
        }
    }
    return false;
}

bool SetupEngine::Prepare() {
    if (m_prepared) return m_prepareResult;
    m_prepared = true;
    if (!m_runFolder.Create(m_tempFolder)) {
        Log(L"Prepare - Could not create the working folder.");
        m_prompts.ErrorBox(IDS_LOAD_LANGUAGE_FAILED);
        return false;
    }
    if (!PrepareLanguage() || !TakeSingleInstance()) return false;
    if (m_command.Has(setup::kFlagHelp)) return ShowHelp(nullptr), false;
    if (m_command.Has(setup::kFlagMoreHelp)) return ShowHelp(&m_moreHelp), false;
    if (m_command.Has(setup::kFlagExtractSettings)) return ExtractSettingsTo(m_command.extractSettingsPath), false;
    AcquireSettings();
    if (m_command.Has(setup::kFlagUnpack)) return Unpack(m_command.unpackDirectory), false;
    m_prepareResult = true;
    return true;
}

bool SetupEngine::PrepareLanguage() {
    std::wstring path;
    if (m_command.Has(setup::kFlagReplaceLanguage)) {
        path = m_command.replaceLanguagePath;
        if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) path.clear();
    } else {
        const void* data = nullptr;
        DWORD size = 0;
        if (FindPackageResource(L"LANGUAGE", L"LANG_BOOTSTRAPPER", &data, &size) &&
            m_runFolder.WriteNewFile(m_languagePath, data, size))
            path = WorkFolder() + m_languagePath;
    }
    if (!path.empty()) m_language.reset(LoadResourceModule(path));
    if (!m_language) {
        Log(L"LoadLanguageResources - Failed to load the language resources.");
        m_prompts.ErrorBox(IDS_LOAD_LANGUAGE_FAILED);
        return false;
    }
    m_prompts.SetLanguage(m_language.get());
    return true;
}

bool SetupEngine::TakeSingleInstance() {
    try {
        m_singleInstance = std::make_unique<CZelMutex>(true, kSingleInstanceMutex);
    } catch (const char*) {
        Log(L"FirstInstance - Could not create the single-instance mutex.");
        return false;
    }
    // Created owned by us, or left by an instance that died: ours. Owned by a
    // living instance: the wait times out.
    if (m_singleInstance->Lock(0)) return true;
    m_singleInstance.reset();
    Log(L"FirstInstance - Already running.");
    if (!m_command.Has(setup::kFlagNoWelcomeWave)) m_prompts.PlayWave(L"IDR_ALREADY_RUNNING_WAV");
    m_prompts.ErrorBox(IDS_ALREADY_RUNNING);
    return false;
}

bool SetupEngine::ShowHelp(const MoreHelp* help) {
    const bool shown = help ? ShowHelpDialog(m_language.get(), help->module, help->titleId, help->stringIds)
                            : ShowHelpDialog(m_language.get(), m_language.get(), IDS_HELP_TITLE, {IDS_HELP_BODY});
    if (!shown) m_prompts.ErrorBox(help ? IDS_MORE_HELP_FAILED : IDS_HELP_FAILED);
    return shown;
}

bool SetupEngine::ExtractSettingsTo(const std::wstring& path) {
    const void* data = nullptr;
    DWORD size = 0;
    std::vector<char> copy;
    if (FindPackageResource(L"TEXT", L"SETTINGS_INI", &data, &size)) {
        copy.assign(static_cast<const char*>(data), static_cast<const char*>(data) + size);
    } else {
        win32::UniqueFileHandle file(::CreateFileW((m_sourceDirectory + L"Settings.ini").c_str(), GENERIC_READ,
                                                   FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        const DWORD length = file ? ::GetFileSize(file.get(), nullptr) : INVALID_FILE_SIZE;
        DWORD read = 0;
        if (length == INVALID_FILE_SIZE || length > (16u << 20)) return false;
        copy.resize(length);
        if (!::ReadFile(file.get(), copy.data(), length, &read, nullptr) || read != length) return false;
    }
    const bool ok = !path.empty() && WriteNewFile(path, copy.data(), copy.size());
    Log(std::wstring(L"ExtractSettings - ") + (ok ? L"Wrote the settings to " : L"Could not write the settings to ") + path + L".");
    return ok;
}

void SetupEngine::AcquireSettings() {
    std::wstring path;
    if (m_command.Has(setup::kFlagReplaceSettings)) {
        path = m_command.replaceSettingsPath;
    } else {
        const void* data = nullptr;
        DWORD size = 0;
        if (FindPackageResource(L"TEXT", L"SETTINGS_INI", &data, &size)) {
            if (m_runFolder.WriteNewFile(L"Settings.ini", data, size)) path = WorkFolder() + L"Settings.ini";
        } else {
            const std::wstring beside = m_sourceDirectory + L"Settings.ini";
            const std::wstring copy = WorkFolder() + L"Settings.ini";
            if (::CopyFileW(beside.c_str(), copy.c_str(), TRUE)) {
                ::SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
                path = copy;
            } else {
                Log(L"GetSettingsFile - There is no Settings.ini beside the package.");
            }
        }
    }
    if (path.empty()) return;
    // Held without write sharing until the engine ends: the settings read
    // before each installer are the ones read at the start.
    m_settingsFile.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (m_settingsFile) m_settingsPath = path;
    else Log(L"GetSettingsFile - Could not open the settings file " + path + L".");
}

namespace {

// Profile files are UTF-16 with a byte-order mark, UTF-8 with one, or text
// in the ANSI code page.
std::wstring DecodeProfileText(const std::vector<char>& bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE)
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / sizeof(wchar_t));
    UINT codePage = CP_ACP;
    size_t skip = 0;
    if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF && static_cast<unsigned char>(bytes[1]) == 0xBB &&
        static_cast<unsigned char>(bytes[2]) == 0xBF) {
        codePage = CP_UTF8;
        skip = 3;
    }
    const int length = static_cast<int>(bytes.size() - skip);
    if (length <= 0) return {};
    const int chars = ::MultiByteToWideChar(codePage, 0, bytes.data() + skip, length, nullptr, 0);
    std::wstring text(static_cast<size_t>(chars > 0 ? chars : 0), L'\0');
    if (chars > 0) ::MultiByteToWideChar(codePage, 0, bytes.data() + skip, length, text.data(), chars);
    return text;
}

}  // namespace

std::wstring SetupEngine::SettingsText() const {
    constexpr DWORD kLargest = 4u << 20;  // far beyond any settings file
    if (!m_settingsFile) return {};
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(m_settingsFile.get(), &size) || size.QuadPart > kLargest) return {};
    std::vector<char> bytes(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    OVERLAPPED at{};  // from the start, whoever read before
    if (!bytes.empty() && (!::ReadFile(m_settingsFile.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, &at) ||
                           read != bytes.size()))
        return {};
    return DecodeProfileText(bytes);
}

namespace {

struct UnpackContext {
    SetupEngine* engine;
    std::wstring directory;
    bool ok = true;
};

BOOL CALLBACK UnpackName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
    auto* c = reinterpret_cast<UnpackContext*>(param);
    if (IS_INTRESOURCE(name)) return TRUE;
    HRSRC found = ::FindResourceW(module, name, type);
    HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    const std::wstring target = c->directory + name;
    // Never over an existing file: the run stops instead.
    if (!data || !WriteNewFile(target, data, ::SizeofResource(module, found))) {
        c->engine->Log(L"Unpack - Could not write " + target + L"; it may exist already.");
        c->ok = false;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK UnpackType(HMODULE module, LPWSTR type, LONG_PTR param) {
    if (!IS_INTRESOURCE(type)) ::EnumResourceNamesW(module, type, UnpackName, param);
    return reinterpret_cast<UnpackContext*>(param)->ok;
}

}  // namespace

bool SetupEngine::Unpack(const std::wstring& directory) {
    UnpackContext context{this, WithBackslash(directory)};
    ::SHCreateDirectoryExW(nullptr, directory.c_str(), nullptr);
    for (HMODULE module : {m_parentLanguage, ExeModule()})
        if (module && context.ok) ::EnumResourceTypesW(module, UnpackType, reinterpret_cast<LONG_PTR>(&context));
    Log(context.ok ? L"Unpack - Done." : L"Unpack - Stopped.");
    return context.ok;
}

}  // namespace orvo::uninstaller
