// The application manifest is embedded in logreap.exe as its manifest
// resource, and says what the program needs of the system; its version
// information names the product, the maker and the project's version.

#include <windows.h>

#include <cstddef>
#include <cwchar>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

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

// The version information block of logreap.exe, read as Explorer reads it.
class VersionInfo : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const fs::path exe = logreapExe();
        DWORD ignored = 0;
        const DWORD size = ::GetFileVersionInfoSizeW(exe.c_str(), &ignored);
        block().assign(size, std::byte{});
        if (size == 0 || !::GetFileVersionInfoW(exe.c_str(), 0, size, block().data())) {
            block().clear();
        }
    }

    void SetUp() override {
        ASSERT_FALSE(block().empty()) << "no version information in " << logreapExe();
    }

    static std::vector<std::byte>& block() {
        static std::vector<std::byte> data;
        return data;
    }

    static std::pair<const void*, UINT> query(const std::wstring& key) {
        void* value = nullptr;
        UINT length = 0;
        if (!::VerQueryValueW(block().data(), key.c_str(), &value, &length)) {
            return {nullptr, 0};
        }
        return {value, length};
    }

    // A string of the table that the block's first translation names, the
    // one Explorer shows; empty when it is missing.
    static std::wstring text(const wchar_t* name) {
        const auto [translations, size] = query(L"\\VarFileInfo\\Translation");
        if (translations == nullptr || size < 2 * sizeof(WORD)) {
            return {};
        }
        const auto* language = static_cast<const WORD*>(translations);
        wchar_t table[9];
        std::swprintf(table, 9, L"%04x%04x", language[0], language[1]);
        const auto [value, length] =
            query(std::wstring(L"\\StringFileInfo\\") + table + L"\\" + name);
        if (value == nullptr || length == 0) {
            return {};
        }
        return static_cast<const wchar_t*>(value);
    }
};

TEST_F(VersionInfo, FixedPartIsTheProjectsVersionOfAnApplication) {
    const auto [value, length] = query(L"\\");
    ASSERT_NE(value, nullptr);
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    const auto& fixed = *static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    const std::string fileVersion = std::to_string(HIWORD(fixed.dwFileVersionMS)) + "." +
                                    std::to_string(LOWORD(fixed.dwFileVersionMS)) + "." +
                                    std::to_string(HIWORD(fixed.dwFileVersionLS));
    EXPECT_EQ(fileVersion, LOGREAP_VERSION);
    EXPECT_EQ(LOWORD(fixed.dwFileVersionLS), WORD{0});
    EXPECT_EQ(fixed.dwProductVersionMS, fixed.dwFileVersionMS);
    EXPECT_EQ(fixed.dwProductVersionLS, fixed.dwFileVersionLS);
    EXPECT_EQ(fixed.dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_EQ(fixed.dwFileFlags & fixed.dwFileFlagsMask, 0u) << "debug, pre-release or patched";
}

class VersionText : public VersionInfo,
                    public ::testing::WithParamInterface<std::pair<const wchar_t*, std::wstring>> {
};

TEST_P(VersionText, IsShownInTheDetails) {
    EXPECT_EQ(text(GetParam().first), GetParam().second) << GetParam().first;
}

#define LOGREAP_WIDE_TEXT(text) L##text
#define LOGREAP_WIDE(text) LOGREAP_WIDE_TEXT(text)

INSTANTIATE_TEST_SUITE_P(
    Strings, VersionText,
    ::testing::Values(std::pair{L"CompanyName", std::wstring(L"Norvane")},
                      std::pair{L"ProductName", std::wstring(L"logreap")},
                      std::pair{L"FileVersion", std::wstring(LOGREAP_WIDE(LOGREAP_VERSION))},
                      std::pair{L"ProductVersion", std::wstring(LOGREAP_WIDE(LOGREAP_VERSION))},
                      std::pair{L"OriginalFilename", std::wstring(L"logreap.exe")}));

TEST_F(VersionInfo, DescribesTheProgram) {
    EXPECT_NE(text(L"FileDescription").find(L"log files"), std::wstring::npos);
}

}  // namespace
