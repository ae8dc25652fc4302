// Crossing threads: a detached worker that owns its job, and answers posted to a window.
//
// A message's wParam may carry a heap object; the receiver takes it into a std::unique_ptr. A
// sender whose post fails (the window is gone) frees the object itself, so nothing leaks and
// nothing is freed twice.
#pragma once
#include <windows.h>
#include <process.h>

#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace vdthread {

namespace detail {
template <class Work>
unsigned __stdcall RunOwned(void* param) {
    std::unique_ptr<Work> work(static_cast<Work*>(param));
    (*work)();
    return 0;
}
}  // namespace detail

// Runs `work` (a callable that owns its job record) on a thread of its own that nobody waits
// for. False when no thread could be made; the work is then freed unrun and GetLastError says why.
template <class Work>
bool StartDetachedWorker(Work&& work) {
    using Owned = typename std::decay<Work>::type;
    std::unique_ptr<Owned> owned(new (std::nothrow) Owned(std::forward<Work>(work)));
    if (!owned) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    // _beginthreadex, not CreateThread: the C runtime's per-thread state is set up and freed
    uintptr_t thread = _beginthreadex(nullptr, 0, &detail::RunOwned<Owned>, owned.get(), 0, nullptr);
    if (!thread) {
        DWORD err = GetLastError();
        owned.reset();
        SetLastError(err ? err : ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    owned.release();  // the thread's now
    CloseHandle(reinterpret_cast<HANDLE>(thread));  // detached: its end is nobody's business
    return true;
}

// An answer that may be lost (a progress tick): posted, or freed when the window is gone.
template <class T>
bool PostOwned(HWND hwnd, UINT msg, std::unique_ptr<T> object, LPARAM lParam = 0) {
    if (!PostMessageW(hwnd, msg, reinterpret_cast<WPARAM>(object.get()), lParam)) return false;
    object.release();  // the receiver's now
    return true;
}

// A final answer must arrive: a full queue is waited out for at most two seconds, a window that
// is gone is not waited for. False when it could not be posted (GetLastError says why).
inline bool PostFinal(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam = 0) {
    for (int i = 0; i < 100; ++i) {
        if (PostMessageW(hwnd, msg, wParam, lParam)) return true;
        if (!IsWindow(hwnd) || GetLastError() != ERROR_NOT_ENOUGH_QUOTA) break;
        Sleep(20);
    }
    return false;
}

template <class T>
bool PostOwnedFinal(HWND hwnd, UINT msg, std::unique_ptr<T> object, LPARAM lParam = 0) {
    if (!PostFinal(hwnd, msg, reinterpret_cast<WPARAM>(object.get()), lParam)) return false;
    object.release();
    return true;
}

}  // namespace vdthread
