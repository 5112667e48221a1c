#pragma once

// The shell actions with their one call into the shell passed in, so tests can see what would be
// started without an Explorer window appearing. The operations of the method channel use the
// real shell.

#include <cstdint>
#include <functional>
#include <string>

#include "plugin/shell_actions/shell_requests.h"
#include "plugin/worker_reply.h"

namespace pel_mora {

// Performs one ShellExecuteW call and returns its result as an integer: greater than 32 when the
// shell started something, else an error value such as SE_ERR_NOASSOC.
using ShellLauncher = std::function<intptr_t(const ShellRequest&)>;

// The real launcher: ShellExecuteW with no owner window and no working folder.
intptr_t LaunchThroughShell(const ShellRequest& request);

// What GetFileAttributesW reports for `path`.
PathKind ReadPathKind(const std::wstring& path);

// True, or the "OPEN_ERROR" reply "Failed to open file." when the shell starts nothing.
WorkerReply OpenFileWith(const std::wstring& path, const ShellLauncher& launch);

// Always true: whether Explorer appeared is not something the shell reports reliably.
WorkerReply OpenInExplorerWith(const std::wstring& path, const ShellLauncher& launch);

}  // namespace pel_mora
