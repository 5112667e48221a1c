#pragma once

// Listing a folder through an open handle with NtQueryDirectoryFile, which reads many entries per
// call and lists exactly the folder the handle holds, whatever its path leads to by then. Shared
// by the drive scan's lister and the clean-up's walk.

#include <windows.h>
#include <winternl.h>

namespace pel_mora {

// FILE_DIRECTORY_INFORMATION, one item of a listing at the directory information level. Declared
// here because the user-mode SDK headers leave it to the driver kit.
struct DirectoryInformation {
  ULONG next_entry_offset;
  ULONG file_index;
  LARGE_INTEGER creation_time;
  LARGE_INTEGER last_access_time;
  LARGE_INTEGER last_write_time;
  LARGE_INTEGER change_time;
  LARGE_INTEGER end_of_file;
  LARGE_INTEGER allocation_size;
  ULONG file_attributes;
  ULONG file_name_length;  // In bytes, without a terminator.
  WCHAR file_name[1];
};

using NtQueryDirectoryFileFunction = NTSTATUS(NTAPI*)(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc_routine,
                                                      PVOID apc_context, PIO_STATUS_BLOCK io_status, PVOID information,
                                                      ULONG length, FILE_INFORMATION_CLASS information_class,
                                                      BOOLEAN return_single_entry, PUNICODE_STRING file_name,
                                                      BOOLEAN restart_scan);

constexpr FILE_INFORMATION_CLASS kDirectoryInformationClass = static_cast<FILE_INFORMATION_CLASS>(1);
// The end of a listing, and a folder without entries (a drive root can list so).
constexpr NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006L);
constexpr NTSTATUS kStatusNoSuchFile = static_cast<NTSTATUS>(0xC000000FL);

// ntdll exports it in every Windows version and in Wine; the import library does not always
// declare it. Null where it cannot be found.
inline NtQueryDirectoryFileFunction QueryDirectoryFunction() {
  static const NtQueryDirectoryFileFunction function = [] {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll == nullptr ? nullptr
                            : reinterpret_cast<NtQueryDirectoryFileFunction>(
                                  reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryDirectoryFile")));
  }();
  return function;
}

}  // namespace pel_mora
