#include "ipc/nativefile.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

int openRegularFileDescriptor(const std::filesystem::path &path, LinkPolicy links,
                              std::int64_t maxBytes)
{
    DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
    if (links == LinkPolicy::Refuse)
        flags |= FILE_FLAG_OPEN_REPARSE_POINT; // open the link itself, then refuse it below
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    // Pipes, consoles and devices are not disk files; directories need a flag we never pass.
    BY_HANDLE_FILE_INFORMATION info{};
    bool regular =
        GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
        (info.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    if (regular) {
        const std::int64_t size =
            std::int64_t((std::uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
        regular = size >= 0 && size <= maxBytes;
    }
    if (!regular) {
        CloseHandle(handle);
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0)
        CloseHandle(handle);
    return fd;
}

MoveOutcome moveWithoutReplacing(const std::filesystem::path &from, const std::filesystem::path &to)
{
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0)
        return MoveOutcome::Moved;
    const DWORD error = GetLastError();
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? MoveOutcome::NameTaken
                                                                       : MoveOutcome::Failed;
}
