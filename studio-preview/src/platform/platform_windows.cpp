// Windows: the launcher is a windowed (GUI-subsystem) program. It creates and attaches to no
// console; console lines go to the standard handles only when the starter passed them. The browser
// is opened with ShellExecuteW, Ctrl-C arrives through a console control handler.

#include "platform/platform.hpp"

#include <boost/asio/post.hpp>
#include <mutex>
#include <string>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

namespace studio::platform {

namespace {

void write_line(DWORD which, std::string_view line) {
    const HANDLE h = ::GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) {
        return; // no stream handed to us: the line is swallowed
    }
    std::string buffer(line);
    buffer.push_back('\n');
    const char* p = buffer.data();
    DWORD left = static_cast<DWORD>(buffer.size());
    while (left > 0) {
        DWORD written = 0;
        if (!::WriteFile(h, p, left, &written, nullptr) || written == 0) {
            return;
        }
        p += written;
        left -= written;
    }
    ::FlushFileBuffers(h);
}

std::wstring widen(const std::string& utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string narrow(const wchar_t* text, int length) {
    if (length <= 0) {
        return {};
    }
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
    return out;
}

std::string describe_error(DWORD code) {
    wchar_t* message = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::string text = message != nullptr ? narrow(message, static_cast<int>(n)) : std::string();
    if (message != nullptr) {
        ::LocalFree(message);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '.')) {
        text.pop_back();
    }
    if (text.empty()) {
        text = "error " + std::to_string(code);
    }
    return text;
}

// The console control handler runs on a thread of its own; it hands the interrupt to the
// registered executor and tells the system that it was handled.
std::mutex handler_mutex;
std::function<void()> handler_callback;

BOOL WINAPI on_console_control(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    std::function<void()> callback;
    {
        std::lock_guard lock(handler_mutex);
        callback = std::move(handler_callback);
        handler_callback = nullptr;
    }
    if (!callback) {
        return FALSE;
    }
    callback();
    return TRUE;
}

class ConsoleControlWatch final : public InterruptWatch {
public:
    ~ConsoleControlWatch() override {
        ::SetConsoleCtrlHandler(on_console_control, FALSE);
        std::lock_guard lock(handler_mutex);
        handler_callback = nullptr;
    }
};

} // namespace

void prepare_process() {}

void write_stdout_line(std::string_view line) {
    write_line(STD_OUTPUT_HANDLE, line);
}

void write_stderr_line(std::string_view line) {
    write_line(STD_ERROR_HANDLE, line);
}

std::optional<std::string> open_url(const std::string& url) {
    // ShellExecute may use COM to reach the desktop's handler.
    const HRESULT com =
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    ::SetLastError(ERROR_SUCCESS);
    const auto wide = widen(url);
    const auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    const DWORD error = ::GetLastError();
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
    if (result > 32) {
        return std::nullopt;
    }
    return describe_error(error != ERROR_SUCCESS ? error : static_cast<DWORD>(result));
}

std::unique_ptr<InterruptWatch> watch_interrupt(boost::asio::any_io_executor executor,
                                                std::function<void()> on_interrupt) {
    {
        std::lock_guard lock(handler_mutex);
        handler_callback = [executor, cb = std::move(on_interrupt)]() mutable {
            boost::asio::post(executor, std::move(cb));
        };
    }
    if (!::SetConsoleCtrlHandler(on_console_control, TRUE)) {
        std::lock_guard lock(handler_mutex);
        handler_callback = nullptr;
        return nullptr;
    }
    return std::make_unique<ConsoleControlWatch>();
}

} // namespace studio::platform
