#pragma once

// Lets a test program answer some of its own calls to Windows as a real system
// would where Wine answers otherwise: the import slots of the calls the
// file-tree layer makes are pointed at stand-ins that pass every call through
// to Wine unless armed. Armed, they also record how each file is opened.

#include <windows.h>
#include <winternl.h>

#include <optional>
#include <string>
#include <vector>

namespace logreap::test {

// How the calls answer while armed; each default is Wine's own answer.
struct SystemAnswers {
    DWORD pathError = 0;               // every CreateFileW fails with it
    std::wstring unreachable{};        // a name whose opens through a link fail...
    NTSTATUS unreachableStatus = 0;    // ...with this status
    bool tagRefused = false;           // FileAttributeTagInfo refused, as FAT does
    bool fileIdRefused = false;        // FileIdInfo refused
    bool fileIdZero = false;           // FileIdInfo answers the id 0
    std::optional<DWORD> fileIndex{};  // GetFileInformationByHandle's 64-bit index
    bool posixDeletion = false;        // FileDispositionInfoEx accepted...
    bool readOnlyFlagUnknown = false;  // ...but refused with its read-only flag
    wchar_t loneSurrogateFor = 0;      // listed as U+D800, opened as itself
    std::wstring trash{};              // where an accepted POSIX deletion moves a name
};

struct RecordedOpen {
    ACCESS_MASK access = 0;
    bool linkItself = false;          // FILE_OPEN_REPARSE_POINT
    bool identificationOnly = false;  // a quality of service of identification, effective only
};

void arm(const SystemAnswers& answers);
void disarm();
// The opens since the last arm().
const std::vector<RecordedOpen>& recordedOpens();

}  // namespace logreap::test
