// wineplug: makes simulated hardware visible to Windows programs running in the
// same Wine prefix, while they run.
//
//   wineplug define COM7 Z:\dev\pts\4   the port name is listed by QueryDosDeviceW
//   wineplug remove COM7                 the port name is no longer listed
//   wineplug mount r /unix/dir           a removable drive r: showing that directory
//   wineplug unmount r                   the drive goes away
//
// Exit code 0 on success; otherwise a message on stderr and a non-zero code.
// The device end of the port (the dosdevices/comN symlink) and the directory
// behind a drive are the caller's business.
#include <windows.h>
#include <winioctl.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// Wine's private request to its mount manager (Wine 8 layout, 8-byte packing).
// MinGW's own mountmgr header describes an older layout, so it is spelled out here.
struct WineUnixDrive {
    ULONG size;
    ULONG type;
    ULONG fsType;
    DWORD serial;
    ULONGLONG unixDev;
    WCHAR letter;
    USHORT mountPointOffset;
    USHORT deviceOffset;
    USHORT labelOffset;
};

// Wine 8's DefineDosDeviceW mangles device names longer than four characters
// (COM23 is created as COM20), so port names are made as the object manager's
// symbolic links directly, as DefineDosDeviceW would: permanent links in \??\.
extern "C" {
NTSTATUS NTAPI NtCreateSymbolicLinkObject(PHANDLE link, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                          PUNICODE_STRING target);
NTSTATUS NTAPI NtOpenSymbolicLinkObject(PHANDLE link, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes);
NTSTATUS NTAPI NtMakeTemporaryObject(HANDLE object);
}
const ACCESS_MASK kSymbolicLinkAllAccess = STANDARD_RIGHTS_REQUIRED | 0x1;

const DWORD kDefineUnixDrive =
    CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

int FailStatus(const wchar_t* what, const std::wstring& name, NTSTATUS status) {
    fwprintf(stderr, L"wineplug: %ls %ls failed (status 0x%08lx)\n", what, name.c_str(),
             static_cast<unsigned long>(status));
    return 1;
}

int Fail(const wchar_t* what, const std::wstring& name) {
    DWORD error = GetLastError();
    fwprintf(stderr, L"wineplug: %ls %ls failed (error %lu)\n", what, name.c_str(),
             static_cast<unsigned long>(error));
    return 1;
}

int Usage() {
    fwprintf(stderr,
             L"usage: wineplug define COMn TARGET | remove COMn | mount LETTER UNIXDIR | unmount LETTER\n");
    return 2;
}

// QueryDosDeviceW with a null name lists every defined device name.
bool IsListed(const std::wstring& name) {
    std::vector<wchar_t> names(1 << 16);
    DWORD length = QueryDosDeviceW(nullptr, names.data(), static_cast<DWORD>(names.size()));
    if (length == 0) return false;
    for (const wchar_t* p = names.data(); *p != L'\0'; p += wcslen(p) + 1) {
        if (_wcsicmp(p, name.c_str()) == 0) return true;
    }
    return false;
}

UNICODE_STRING Counted(std::wstring& text) {
    UNICODE_STRING counted;
    counted.Buffer = &text[0];
    counted.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    counted.MaximumLength = counted.Length;
    return counted;
}

// target is a DOS path such as Z:\dev\pts\4.
int Remove(const std::wstring& name);

int Define(const std::wstring& name, const std::wstring& target) {
    // A definition left behind by an earlier run would make the create fail.
    if (IsListed(name)) Remove(name);
    std::wstring linkPath = L"\\??\\" + name;
    std::wstring targetPath = L"\\??\\" + target;
    UNICODE_STRING link = Counted(linkPath);
    UNICODE_STRING destination = Counted(targetPath);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &link, OBJ_CASE_INSENSITIVE | OBJ_PERMANENT, nullptr, nullptr);
    HANDLE handle = nullptr;
    NTSTATUS status = NtCreateSymbolicLinkObject(&handle, kSymbolicLinkAllAccess, &attributes, &destination);
    if (status < 0) return FailStatus(L"creating the link", name, status);
    CloseHandle(handle);
    if (!IsListed(name)) {
        fwprintf(stderr, L"wineplug: %ls defined but not listed by QueryDosDeviceW\n", name.c_str());
        return 1;
    }
    return 0;
}

int Remove(const std::wstring& name) {
    std::wstring linkPath = L"\\??\\" + name;
    UNICODE_STRING link = Counted(linkPath);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &link, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    HANDLE handle = nullptr;
    NTSTATUS status = NtOpenSymbolicLinkObject(&handle, DELETE, &attributes);
    if (status < 0) return FailStatus(L"opening the link", name, status);
    // A permanent link lives on until it is made temporary and its last handle closes.
    status = NtMakeTemporaryObject(handle);
    CloseHandle(handle);
    if (status < 0) return FailStatus(L"removing the link", name, status);
    return 0;
}

bool ParseLetter(const std::wstring& text, wchar_t& letter) {
    if (text.empty() || text.size() > 2 || (text.size() == 2 && text[1] != L':')) return false;
    wchar_t c = text[0];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c < L'a' || c > L'z') return false;
    letter = c;
    return true;
}

// Sends the mount manager request; an empty path removes the drive's mapping.
int SendUnixDrive(wchar_t letter, const std::string& unixPath) {
    std::vector<char> buffer(sizeof(WineUnixDrive) + (unixPath.empty() ? 0 : unixPath.size() + 1), 0);
    WineUnixDrive drive{};
    drive.size = static_cast<ULONG>(buffer.size());
    drive.type = DRIVE_REMOVABLE;
    drive.letter = letter;
    if (!unixPath.empty()) {
        drive.mountPointOffset = static_cast<USHORT>(sizeof(WineUnixDrive));
        std::copy(unixPath.begin(), unixPath.end(), buffer.begin() + sizeof(WineUnixDrive));
    }
    std::copy(reinterpret_cast<const char*>(&drive), reinterpret_cast<const char*>(&drive) + sizeof drive,
              buffer.begin());

    HANDLE manager = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (manager == INVALID_HANDLE_VALUE) return Fail(L"opening", L"\\\\.\\MountPointManager");
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(manager, kDefineUnixDrive, buffer.data(), static_cast<DWORD>(buffer.size()),
                              nullptr, 0, &returned, nullptr);
    DWORD error = GetLastError();
    CloseHandle(manager);
    if (!ok) {
        SetLastError(error);
        return Fail(L"mount manager request for drive", std::wstring(1, letter));
    }
    return 0;
}

std::string WideToUtf8(const std::wstring& text) {
    int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return std::string();
    std::string out(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], length, nullptr, nullptr);
    out.resize(static_cast<size_t>(length - 1));
    return out;
}

int Mount(wchar_t letter, const std::wstring& unixDir) {
    std::string path = WideToUtf8(unixDir);
    if (path.empty() || path[0] != '/') {
        fwprintf(stderr, L"wineplug: mount needs an absolute Unix path\n");
        return 2;
    }
    return SendUnixDrive(letter, path);
}

// Removing the mapping alone leaves the letter listed like an empty card reader;
// the DOS device definition has to go as well.
int Unmount(wchar_t letter) {
    int result = SendUnixDrive(letter, std::string());
    wchar_t device[3] = {static_cast<wchar_t>(letter - L'a' + L'A'), L':', L'\0'};
    if (!DefineDosDeviceW(DDD_REMOVE_DEFINITION, device, nullptr) && result == 0) {
        // Already gone is fine: the mount manager may have dropped it itself.
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            SetLastError(error);
            return Fail(L"DefineDosDeviceW(DDD_REMOVE_DEFINITION)", device);
        }
    }
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return Usage();
    std::wstring verb = argv[1];
    std::wstring name = argv[2];
    if (verb == L"define" && argc == 4) return Define(name, argv[3]);
    if (verb == L"remove" && argc == 3) return Remove(name);
    wchar_t letter = 0;
    if ((verb == L"mount" || verb == L"unmount") && !ParseLetter(name, letter)) {
        fwprintf(stderr, L"wineplug: not a drive letter: %ls\n", name.c_str());
        return 2;
    }
    if (verb == L"mount" && argc == 4) return Mount(letter, argv[3]);
    if (verb == L"unmount" && argc == 3) return Unmount(letter);
    return Usage();
}
