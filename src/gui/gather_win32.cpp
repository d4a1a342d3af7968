#include <windows.h>

#include <memory>
#include <new>
#include <string_view>
#include <type_traits>

#include "gui/gather.h"

namespace m3umerge::gui {
namespace {

// "Local\" keeps both within the user's session.
constexpr wchar_t kMutexName[] = L"Local\\m3umerge.gather";
constexpr wchar_t kWindowClass[] = L"m3umerge.gather";
// Tells our WM_COPYDATA from any other program's.
constexpr ULONG_PTR kAnchorsData = 0x6D336D77;
// More than any command line holds.
constexpr std::size_t kMaxHandedBytes = std::size_t{1} << 20;
// How long a later instance keeps trying to reach the gathering one (the
// gatherer may own the mutex and not have its window yet), and how long it
// waits for that one to take its anchors.
constexpr int kAttempts = 100;
constexpr DWORD kRetryMilliseconds = 20;
constexpr UINT kSendTimeoutMilliseconds = 5000;
constexpr UINT_PTR kQuietTimer = 1;

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

struct WindowDestroyer {
  void operator()(HWND window) const { ::DestroyWindow(window); }
};
using UniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

// Ownership of a mutex, released when it goes.
class MutexOwnership {
 public:
  explicit MutexOwnership(HANDLE mutex) : mutex_(mutex) {}
  MutexOwnership(const MutexOwnership&) = delete;
  MutexOwnership& operator=(const MutexOwnership&) = delete;
  ~MutexOwnership() { ::ReleaseMutex(mutex_); }

 private:
  HANDLE mutex_;
};

// Win32 hands pointers over as integers (window data, message parameters,
// callback data).
template <class T>
T* pointer_from(LONG_PTR value) {
  return reinterpret_cast<T*>(value);  // NOLINT(performance-no-int-to-ptr)
}

// The state of the gathering window.
struct Gathering {
  std::vector<std::wstring>* anchors;
  bool open = true;
};

// The anchors as sent: each followed by a null character.
std::wstring encode(const std::vector<std::wstring>& anchors) {
  std::wstring text;
  for (const std::wstring& anchor : anchors) {
    text += anchor;
    text += L'\0';
  }
  return text;
}

// Appends the anchors `data` carries; false, with `anchors` untouched, when
// it is no message of ours.
bool take_anchors(const COPYDATASTRUCT& data, std::vector<std::wstring>& anchors) {
  if (data.dwData != kAnchorsData || data.lpData == nullptr || data.cbData == 0 ||
      data.cbData % sizeof(wchar_t) != 0 || data.cbData > kMaxHandedBytes) {
    return false;
  }
  const std::wstring_view text(static_cast<const wchar_t*>(data.lpData),
                               data.cbData / sizeof(wchar_t));
  if (text.back() != L'\0') return false;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find(L'\0', start);
    anchors.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return true;
}

LRESULT on_copy_data(HWND window, Gathering* gathering, const COPYDATASTRUCT& data) {
  if (gathering == nullptr || !gathering->open) return FALSE;
  try {
    if (!take_anchors(data, *gathering->anchors)) return FALSE;
  } catch (const std::bad_alloc&) {
    return FALSE;  // the sender merges them itself
  }
  // One more anchor: the quiet period starts again.
  ::SetTimer(window, kQuietTimer, kQuietMilliseconds, nullptr);
  return TRUE;
}

LRESULT CALLBACK gathering_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* gathering = pointer_from<Gathering>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_COPYDATA) {
    return on_copy_data(window, gathering, *pointer_from<const COPYDATASTRUCT>(lparam));
  }
  if (message == WM_TIMER && wparam == kQuietTimer && gathering != nullptr) {
    // From here on, a message that arrives is refused and its sender gathers anew.
    gathering->open = false;
    ::KillTimer(window, kQuietTimer);
    return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

// Takes anchors through a message-only window until the quiet period ends;
// the window is gone when this returns.
void gather(HINSTANCE instance, std::vector<std::wstring>& anchors) {
  Gathering gathering{&anchors};
  const UniqueWindow window(::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                              nullptr, instance, nullptr));
  if (!window) return;
  ::SetWindowLongPtrW(window.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&gathering));
  if (::SetTimer(window.get(), kQuietTimer, kQuietMilliseconds, nullptr) == 0) return;
  MSG message;
  while (gathering.open && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::DispatchMessageW(&message);
  }
}

void gather(std::vector<std::wstring>& anchors) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = gathering_procedure;
  window_class.hInstance = instance;
  window_class.lpszClassName = kWindowClass;
  if (::RegisterClassExW(&window_class) == 0) return;
  gather(instance, anchors);
  ::UnregisterClassW(kWindowClass, instance);
}

// Hands `text` to the gathering window; false when there is none or it
// refused (it stopped gathering meanwhile).
bool hand_over(std::wstring& text) {
  const HWND gatherer = ::FindWindowExW(HWND_MESSAGE, nullptr, kWindowClass, nullptr);
  if (gatherer == nullptr) return false;
  COPYDATASTRUCT data{kAnchorsData, static_cast<DWORD>(text.size() * sizeof(wchar_t)), text.data()};
  DWORD_PTR taken = FALSE;
  return ::SendMessageTimeoutW(gatherer, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                               SMTO_ABORTIFHUNG, kSendTimeoutMilliseconds, &taken) != 0 &&
         taken == TRUE;
}

}  // namespace

Gathered hand_over_or_gather(std::vector<std::wstring>& anchors) {
  std::wstring text = encode(anchors);
  // Another user's mutex of the same name, or no room for one: run alone.
  const UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, kMutexName));
  if (!mutex || text.size() * sizeof(wchar_t) > kMaxHandedBytes) return Gathered::alone;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const DWORD wait = ::WaitForSingleObject(mutex.get(), 0);
    // An abandoned mutex is owned all the same: its gatherer ended mid-way.
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
      const MutexOwnership owned(mutex.get());
      gather(anchors);
      return Gathered::gathered;
    }
    if (hand_over(text)) return Gathered::handed_over;
    ::Sleep(kRetryMilliseconds);
  }
  return Gathered::alone;
}

}  // namespace m3umerge::gui
