#include "main_thread_tasks.h"

#include <windows.h>

#include <atomic>
#include <memory>

namespace MainThreadTasks {
namespace {

constexpr UINT kRunTask = WM_APP + 1;
constexpr const wchar_t* kWindowClass = L"ombrix main thread tasks";

std::atomic<HWND> taskWindow{nullptr};

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != kRunTask)
        return ::DefWindowProcW(window, message, wParam, lParam);
    const std::unique_ptr<std::function<void()>> task(reinterpret_cast<std::function<void()>*>(lParam));
    try {
        (*task)();
    } catch (...) {
        // A task ends in its own boundary; the window must go on serving.
    }
    return 0;
}

} // namespace

void install() noexcept
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    ::RegisterClassExW(&windowClass);
    taskWindow = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   ::GetModuleHandleW(nullptr), nullptr);
}

bool post(std::function<void()> task) noexcept
{
    const HWND window = taskWindow;
    if (window == nullptr)
        return false;
    try {
        auto carried = std::make_unique<std::function<void()>>(std::move(task));
        if (!::PostMessageW(window, kRunTask, 0, reinterpret_cast<LPARAM>(carried.get())))
            return false;
        carried.release();
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace MainThreadTasks
