// The application manifest is embedded in logreap.exe as its manifest
// resource, and says what the program needs of the system.

#include <windows.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

fs::path logreapExe() {
    std::wstring self(MAX_PATH, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
    return fs::path(self).parent_path() / L"logreap.exe";
}

// The text of the manifest resource (RT_MANIFEST, id 1), or empty.
std::string manifestOf(const fs::path& exe) {
    const HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        return {};
    }
    std::string text;
    if (const HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
        const HGLOBAL data = ::LoadResource(module, resource);
        const DWORD size = ::SizeofResource(module, resource);
        if (data != nullptr && size != 0) {
            text.assign(static_cast<const char*>(::LockResource(data)), size);
        }
    }
    ::FreeLibrary(module);
    return text;
}

TEST(Manifest, IsTheExecutablesManifestResource) {
    const std::string manifest = manifestOf(logreapExe());
    ASSERT_FALSE(manifest.empty()) << "no manifest resource in " << logreapExe();
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
              std::string::npos);
    EXPECT_NE(manifest.find(">true</longPathAware>"), std::string::npos);
    EXPECT_NE(manifest.find(">UTF-8</activeCodePage>"), std::string::npos);
    EXPECT_NE(manifest.find("<assemblyIdentity type=\"win32\""), std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
}

}  // namespace
