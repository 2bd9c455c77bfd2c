#include "Interposer.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

namespace logreap::test {
namespace {

template <class Function>
Function exported(const wchar_t* module, const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(module), name)));
}

// The calls themselves, as the loader put them into the import slots. Taken
// from the modules: mingw-w64 declares NtCreateFile without dllimport, and the
// address of such a declaration is a jump through the very slot replaced.
struct Real {
    using CreateFile = decltype(&::CreateFileW);
    using NtCreateFile = decltype(&::NtCreateFile);
    using GetInfo = decltype(&::GetFileInformationByHandle);
    using GetInfoEx = decltype(&::GetFileInformationByHandleEx);
    using SetInfo = decltype(&::SetFileInformationByHandle);
    CreateFile createFile = exported<CreateFile>(L"kernel32.dll", "CreateFileW");
    NtCreateFile ntCreateFile = exported<NtCreateFile>(L"ntdll.dll", "NtCreateFile");
    GetInfo getInfo = exported<GetInfo>(L"kernel32.dll", "GetFileInformationByHandle");
    GetInfoEx getInfoEx = exported<GetInfoEx>(L"kernel32.dll", "GetFileInformationByHandleEx");
    SetInfo setInfo = exported<SetInfo>(L"kernel32.dll", "SetFileInformationByHandle");
};
const Real real;

const SystemAnswers* armed = nullptr;
std::vector<RecordedOpen> opens;
unsigned moved = 0;

// FileDispositionInfoEx, written as its number: the layer derives it from the
// class before it, and this is what checks that derivation.
constexpr auto kDispositionEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr wchar_t kLoneSurrogate = 0xD800;

HANDLE WINAPI createFile(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                         DWORD disposition, DWORD flags, HANDLE model) {
    if (armed != nullptr) {
        constexpr DWORD kQos =
            SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION | SECURITY_EFFECTIVE_ONLY;
        // The level's two bits are those of SECURITY_DELEGATION.
        opens.push_back({access, (flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0,
                         (flags & (kQos | SECURITY_DELEGATION)) == kQos});
        if (armed->pathError != 0) {
            ::SetLastError(armed->pathError);
            return INVALID_HANDLE_VALUE;
        }
    }
    return real.createFile(name, access, share, security, disposition, flags, model);
}

NTSTATUS NTAPI ntCreateFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                            PIO_STATUS_BLOCK io, PLARGE_INTEGER size, ULONG fileAttributes,
                            ULONG share, ULONG disposition, ULONG options, PVOID ea, ULONG eaSize) {
    OBJECT_ATTRIBUTES passed = *attributes;
    UNICODE_STRING text{};
    std::wstring name;
    if (armed != nullptr) {
        const auto* qos =
            static_cast<const SECURITY_QUALITY_OF_SERVICE*>(attributes->SecurityQualityOfService);
        const bool linkItself = (options & FILE_OPEN_REPARSE_POINT) != 0;
        opens.push_back({access, linkItself,
                         qos != nullptr && qos->ImpersonationLevel == SecurityIdentification &&
                             qos->EffectiveOnly});
        text = *attributes->ObjectName;
        name.assign(text.Buffer, text.Length / sizeof(wchar_t));
        if (!linkItself && name == armed->unreachable) {
            return armed->unreachableStatus;
        }
        if (armed->loneSurrogateFor != 0) {
            std::replace(name.begin(), name.end(), kLoneSurrogate, armed->loneSurrogateFor);
            text.Buffer = name.data();
            passed.ObjectName = &text;
        }
    }
    return real.ntCreateFile(handle, access, &passed, io, size, fileAttributes, share, disposition,
                             options, ea, eaSize);
}

BOOL WINAPI getInfo(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION info) {
    const BOOL done = real.getInfo(handle, info);
    if (done && armed != nullptr && armed->fileIndex) {
        info->nFileIndexHigh = 0;
        info->nFileIndexLow = *armed->fileIndex;
    }
    return done;
}

BOOL WINAPI getInfoEx(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID buffer, DWORD size) {
    if (armed != nullptr && ((kind == FileAttributeTagInfo && armed->tagRefused) ||
                             (kind == FileIdInfo && armed->fileIdRefused))) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const BOOL done = real.getInfoEx(handle, kind, buffer, size);
    if (done && armed != nullptr && kind == FileIdInfo && armed->fileIdZero) {
        std::memset(&static_cast<FILE_ID_INFO*>(buffer)->FileId, 0, sizeof(FILE_ID_128));
    }
    if (done && armed != nullptr && kind == FileFullDirectoryInfo && armed->loneSurrogateFor != 0) {
        for (auto* entry = static_cast<char*>(buffer);;) {
            auto* info = reinterpret_cast<FILE_FULL_DIR_INFO*>(entry);
            std::replace(info->FileName, info->FileName + info->FileNameLength / sizeof(wchar_t),
                         armed->loneSurrogateFor, kLoneSurrogate);
            if (info->NextEntryOffset == 0) {
                break;
            }
            entry += info->NextEntryOffset;
        }
    }
    return done;
}

// Wine knows only the classic disposition: once that is set, the name is moved
// out of its directory, as a POSIX deletion takes it away at once.
BOOL deleteAsPosix(HANDLE handle) {
    FILE_DISPOSITION_INFO classic{TRUE};
    if (!real.setInfo(handle, FileDispositionInfo, &classic, sizeof classic)) {
        return FALSE;
    }
    const std::wstring target = L"\\??\\" + armed->trash + L"\\" + std::to_wstring(++moved);
    const DWORD bytes = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + bytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->FileNameLength = bytes;
    std::memcpy(rename->FileName, target.data(), bytes);
    return real.setInfo(handle, FileRenameInfo, rename, static_cast<DWORD>(buffer.size()));
}

BOOL WINAPI setInfo(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID buffer, DWORD size) {
    if (armed != nullptr && kind == kDispositionEx && armed->posixDeletion) {
        if (armed->readOnlyFlagUnknown && (static_cast<FILE_DISPOSITION_INFO_EX*>(buffer)->Flags &
                                           FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE) != 0) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        return deleteAsPosix(handle);
    }
    return real.setInfo(handle, kind, buffer, size);
}

// Points every import slot of this program that holds `original` at `standIn`.
template <class Function>
void replaceImport(Function original, Function standIn) {
    auto* base = reinterpret_cast<char*>(::GetModuleHandleW(nullptr));
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const auto& imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* module =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         module->Name != 0; ++module) {
        for (auto* slot = reinterpret_cast<Function*>(base + module->FirstThunk); *slot != nullptr;
             ++slot) {
            DWORD protection = 0;
            if (*slot == original &&
                ::VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) {
                *slot = standIn;
                ::VirtualProtect(slot, sizeof *slot, protection, &protection);
            }
        }
    }
}

}  // namespace

void arm(const SystemAnswers& answers) {
    static const bool installed = [] {
        replaceImport(real.createFile, &createFile);
        replaceImport(real.ntCreateFile, &ntCreateFile);
        replaceImport(real.getInfo, &getInfo);
        replaceImport(real.getInfoEx, &getInfoEx);
        replaceImport(real.setInfo, &setInfo);
        return true;
    }();
    (void)installed;
    opens.clear();
    armed = &answers;
}

void disarm() {
    armed = nullptr;
}

const std::vector<RecordedOpen>& recordedOpens() {
    return opens;
}

}  // namespace logreap::test
