#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <objbase.h>
#include <restartmanager.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "gui/gather.h"
#include "gui/gui.h"
#include "gui/summary.h"
#include "platform/platform.h"
#include "playlist/merge.h"

namespace m3umerge::gui {
namespace {

constexpr wchar_t kTitle[] = L"m3umerge";
constexpr wchar_t kLocaleName[] = L"japanese";
constexpr wchar_t kProgressClass[] = L"m3umergeProgress";
constexpr int kCopyListButton = 99;
constexpr int kShowInFolderButton = 100;
constexpr int kPlayButton = 101;  // and the next ones, one per playlist written
constexpr std::size_t kPlayButtons = 5;

// Win32 hands pointers over as integers (window data, message parameters,
// callback data).
template <class T>
T* pointer_from(LONG_PTR value) {
  return reinterpret_cast<T*>(value);  // NOLINT(performance-no-int-to-ptr)
}

// A child window's id, which Win32 takes where a menu handle goes.
HMENU child_id(int id) {
  return reinterpret_cast<HMENU>(static_cast<INT_PTR>(id));  // NOLINT(performance-no-int-to-ptr)
}

Language user_language() {
  return PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_JAPANESE ? Language::japanese
                                                                      : Language::english;
}

struct LibraryFreer {
  void operator()(HMODULE library) const { ::FreeLibrary(library); }
};

// The function `name` of `library`, as a pointer of type Function.
template <class Function>
Function function_of(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

// The name of a program that holds the file at `path` open, as the Restart
// Manager tells it; empty when it cannot tell. The library is loaded only
// here, from the system folder, and only when a playlist was held.
std::wstring program_holding(const std::wstring& path) {
  const std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFreer> library(
      ::LoadLibraryExW(L"rstrtmgr.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!library) return {};
  using Start = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
  using Register = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
  using List = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);
  using End = DWORD(WINAPI*)(DWORD);
  const auto start = function_of<Start>(library.get(), "RmStartSession");
  const auto add = function_of<Register>(library.get(), "RmRegisterResources");
  const auto list = function_of<List>(library.get(), "RmGetList");
  const auto end = function_of<End>(library.get(), "RmEndSession");
  DWORD session = 0;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  if (!start || !add || !list || !end || start(&session, 0, key) != ERROR_SUCCESS) return {};
  std::wstring holder;
  LPCWSTR files[] = {path.c_str()};
  RM_PROCESS_INFO found[1] = {};
  UINT needed = 0;
  UINT count = 1;
  DWORD reasons = 0;
  const DWORD listed = add(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS
                           ? list(session, &needed, &count, found, &reasons)
                           : ERROR_INVALID_PARAMETER;
  // ERROR_MORE_DATA: more than one holds it; the first is named.
  if ((listed == ERROR_SUCCESS || listed == ERROR_MORE_DATA) && needed > 0) {
    holder = found[0].strAppName;
  }
  (void)end(session);
  return holder;
}

// The system's own words for `error`, without a line end; empty when it has none.
std::wstring system_message(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message(text != nullptr ? text : L"", length);
  ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  return message;
}

// What the report of a failed write leaves for the front end to find out.
std::wstring failure_detail(const MergeReport& report) {
  if (report.result != AnchorResult::write_failed) return {};
  if (report.fault == platform::WriteFault::in_use) return program_holding(report.merged_path);
  if (report.fault == platform::WriteFault::other) return system_message(report.system_error);
  return {};
}

// COM in this thread, as the shell's calls need it, while this lives.
class ComApartment {
 public:
  ComApartment()
      : initialized_(SUCCEEDED(
            ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (initialized_) ::CoUninitialize();
  }

 private:
  bool initialized_;
};

struct IdListFreer {
  void operator()(ITEMIDLIST* list) const { ::CoTaskMemFree(list); }
};
using UniqueIdList = std::unique_ptr<ITEMIDLIST, IdListFreer>;

// The shell's name for `path`, or nothing when it has none.
UniqueIdList id_list(const std::wstring& path) {
  PIDLIST_ABSOLUTE list = nullptr;
  if (FAILED(::SHParseDisplayName(path.c_str(), nullptr, &list, 0, nullptr))) return nullptr;
  return UniqueIdList(list);
}

// Says that `path` is out of the shell's reach, and why.
void tell_unreachable(HWND owner, const std::wstring& path, Language language) {
  const std::wstring exact = platform::extended_path(path);
  const std::wstring hint =
      unreachable_hint(language, exact.empty() ? path : platform::unprefixed_path(exact));
  (void)::MessageBoxW(owner, hint.c_str(), kTitle, MB_OK | MB_ICONINFORMATION);
}

// Puts `text` on the clipboard as Unicode text with CR LF line ends. The
// clipboard is one program's at a time: a clipboard manager may hold it
// for a moment.
bool copy_to_clipboard(HWND owner, const std::wstring& text) {
  std::wstring lines;
  for (const wchar_t c : text) lines += c == L'\n' ? L"\r\n" : std::wstring(1, c);
  constexpr int kAttempts = 20;
  constexpr DWORD kPauseMilliseconds = 25;
  int attempt = 1;
  for (; !::OpenClipboard(owner); ++attempt) {
    if (attempt == kAttempts) return false;
    ::Sleep(kPauseMilliseconds);
  }
  bool copied = false;
  if (::EmptyClipboard()) {
    // Once SetClipboardData took the memory, the system owns it.
    const HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, (lines.size() + 1) * sizeof(wchar_t));
    void* const bytes = memory != nullptr ? ::GlobalLock(memory) : nullptr;
    if (bytes != nullptr) {
      std::copy_n(lines.c_str(), lines.size() + 1, static_cast<wchar_t*>(bytes));
      ::GlobalUnlock(memory);
      copied = ::SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    }
    if (!copied && memory != nullptr) ::GlobalFree(memory);
  }
  ::CloseClipboard();
  return copied;
}

std::wstring folder_of(const std::wstring& path) {
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

std::wstring file_name_of(const std::wstring& path) {
  return path.substr(path.find_last_of(L'\\') + 1);
}

// Opens an Explorer window on `folder` with `files`, paths in it, selected.
bool select_in_folder(const std::wstring& folder, const std::vector<std::wstring>& files) {
  const UniqueIdList folder_list = id_list(folder);
  if (!folder_list) return false;
  std::vector<UniqueIdList> file_lists;
  std::vector<PCUITEMID_CHILD> children;
  for (const std::wstring& file : files) {
    file_lists.push_back(id_list(file));
    if (file_lists.back()) children.push_back(::ILFindLastID(file_lists.back().get()));
  }
  return !children.empty() &&
         SUCCEEDED(::SHOpenFolderAndSelectItems(
             folder_list.get(), static_cast<UINT>(children.size()), children.data(), 0));
}

// The folder that holds every one of `paths` (\\?\ paths), ending in a
// separator; empty when they are on different volumes.
std::wstring common_folder(const std::vector<std::wstring>& paths) {
  constexpr std::size_t kShortestRoot = 7;  // as in \\?\C:\ (a drive)
  std::wstring common = folder_of(paths.front());
  for (const std::wstring& path : paths) {
    while (common.size() >= kShortestRoot &&
           !(path.size() > common.size() &&
             platform::same_file_name(std::wstring_view(path).substr(0, common.size()), common))) {
      common = folder_of(common.substr(0, common.size() - 1));
    }
  }
  return common.size() >= kShortestRoot ? common : std::wstring();
}

// One Explorer window, on the folder that holds every playlist written
// (`written`, \\?\ paths), with those in it selected, and the subfolders
// that hold the others; Explorer's own /select switch where the shell
// cannot name them. Each is worked out from the exact paths, then given to
// the shell in the form it takes (the shell parses paths as Win32 does, and
// takes no \\?\ path).
void show_in_folder(HWND owner, const std::vector<std::wstring>& written, Language language) {
  const std::wstring folder = common_folder(written);
  std::vector<std::wstring> selected;
  for (const std::wstring& path : written) {
    const std::size_t step = path.find(L'\\', folder.size());
    const std::wstring item =
        platform::plain_path(step == std::wstring::npos ? path : path.substr(0, step));
    if (!item.empty() && std::find(selected.begin(), selected.end(), item) == selected.end()) {
      selected.push_back(item);
    }
  }
  const std::wstring shell_folder = folder.empty() ? std::wstring() : platform::plain_path(folder);
  if (!shell_folder.empty() && select_in_folder(shell_folder, selected)) return;
  const std::wstring first = platform::plain_path(written.front());
  if (first.empty()) {
    tell_unreachable(owner, written.front(), language);
    return;
  }
  const std::wstring select = L"/select,\"" + first + L"\"";
  (void)::ShellExecuteW(nullptr, L"open", L"explorer.exe", select.c_str(), nullptr, SW_SHOWNORMAL);
}

// Opens `path` with the program the user chose for playlists; where none
// is set, says how to set one.
void play(HWND owner, const std::wstring& path, Language language) {
  const std::wstring target = platform::plain_path(path);
  if (target.empty()) {
    tell_unreachable(owner, path, language);
    return;
  }
  SHELLEXECUTEINFOW execute{};
  execute.cbSize = sizeof(execute);
  execute.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  execute.hwnd = owner;
  execute.lpVerb = L"open";
  execute.lpFile = target.c_str();
  execute.nShow = SW_SHOWNORMAL;
  if (::ShellExecuteExW(&execute)) return;
  const DWORD error = ::GetLastError();
  const std::wstring hint =
      error == ERROR_NO_ASSOCIATION ? no_player_hint(language) : system_message(error);
  (void)::MessageBoxW(owner, hint.c_str(), kTitle, MB_OK | MB_ICONINFORMATION);
}

// What the dialog's buttons act on.
struct DialogData {
  std::vector<std::wstring> written;  // the playlists written, as \\?\ paths
  std::wstring copied;                // what Copy list copies
  Language language;
};

// The dialog's own buttons act and leave it open; Close ends it.
HRESULT CALLBACK on_dialog_event(HWND dialog, UINT notification, WPARAM button, LPARAM,
                                 LONG_PTR data) {
  if (notification != TDN_BUTTON_CLICKED) return S_OK;
  const auto& shown = *pointer_from<const DialogData>(data);
  try {
    if (button == kCopyListButton) {
      if (!copy_to_clipboard(dialog, shown.copied)) ::MessageBeep(MB_ICONWARNING);
      return S_FALSE;
    }
    if (button == kShowInFolderButton) {
      show_in_folder(dialog, shown.written, shown.language);
      return S_FALSE;
    }
    if (button >= kPlayButton && button < kPlayButton + shown.written.size()) {
      play(dialog, shown.written[button - kPlayButton], shown.language);
      return S_FALSE;
    }
  } catch (const std::bad_alloc&) {
    return S_FALSE;
  }
  return S_OK;
}

PCWSTR icon_for(const Summary& summary) {
  if (summary.outcome == Outcome::none_written) return TD_ERROR_ICON;
  // A playlist written with notes (inputs left out) is information; a
  // warning is for something asked for and not done.
  if (summary.outcome == Outcome::some_written) return TD_WARNING_ICON;
  return TD_INFORMATION_ICON;
}

// Shows the dialog; a plain message box where task dialogs are missing.
void show(TASKDIALOGCONFIG& config) {
  config.cbSize = sizeof(config);
  config.hInstance = ::GetModuleHandleW(nullptr);
  config.dwFlags |= TDF_ALLOW_DIALOG_CANCELLATION;
  config.dwCommonButtons = TDCBF_CLOSE_BUTTON;
  config.nDefaultButton = IDCLOSE;
  config.pszWindowTitle = kTitle;
  if (SUCCEEDED(::TaskDialogIndirect(&config, nullptr, nullptr, nullptr))) return;
  std::wstring text = config.pszMainInstruction;
  text += L"\n\n";
  text += config.pszContent;
  (void)::MessageBoxW(nullptr, text.c_str(), kTitle, MB_OK);
}

void show_summary(const std::vector<AnchorRun>& run, Language language) {
  const Summary summary = summarize(run, language);
  DialogData shown{{}, summary.left_out_copied, language};
  for (const AnchorRun& anchor : run) {
    if (was_written(anchor.report.result)) {
      const std::wstring exact = platform::extended_path(anchor.report.merged_path);
      shown.written.push_back(exact.empty() ? anchor.report.merged_path : exact);
    }
  }
  // Show in folder and Play for each playlist written, up to a few; Copy
  // list when some were left out.
  std::vector<std::pair<int, std::wstring>> labels;
  if (!shown.written.empty())
    labels.emplace_back(kShowInFolderButton, show_in_folder_label(language));
  const std::size_t playable = std::min(shown.written.size(), kPlayButtons);
  for (std::size_t i = 0; i < playable; ++i) {
    labels.emplace_back(
        kPlayButton + int(i),
        playable == 1 ? play_label(language)
                      : play_label(language, file_name_of(shown.written[i]), unsigned(i + 1)));
  }
  if (!shown.copied.empty()) labels.emplace_back(kCopyListButton, copy_list_label(language));
  std::vector<TASKDIALOG_BUTTON> buttons;
  buttons.reserve(labels.size());
  for (const auto& [id, label] : labels) buttons.push_back({id, label.c_str()});
  const std::wstring show_list = show_list_label(language);
  const std::wstring hide_list = hide_list_label(language);
  TASKDIALOGCONFIG config{};
  config.pszMainIcon = icon_for(summary);
  config.pszMainInstruction = summary.instruction.c_str();
  config.pszContent = summary.content.c_str();
  config.pszFooter = summary.footer.empty() ? nullptr : summary.footer.c_str();
  if (!summary.left_out_shown.empty()) {
    config.pszExpandedInformation = summary.left_out_shown.c_str();
    config.pszCollapsedControlText = show_list.c_str();
    config.pszExpandedControlText = hide_list.c_str();
  }
  config.pButtons = buttons.data();
  config.cButtons = UINT(buttons.size());
  config.pfCallback = on_dialog_event;
  config.lpCallbackData = reinterpret_cast<LONG_PTR>(&shown);
  show(config);
}

void show_request(Language language) {
  const std::wstring instruction = request_instruction(language);
  const std::wstring content = request_content(language);
  TASKDIALOGCONFIG config{};
  config.pszMainIcon = TD_INFORMATION_ICON;
  config.pszMainInstruction = instruction.c_str();
  config.pszContent = content.c_str();
  show(config);
}

// A window that shows a long merge under way, from half a second in, with
// a Cancel button; Esc and closing it cancel too. The merge runs on this
// same thread: each update handles the window's waiting messages.
class ProgressWindow {
 public:
  explicit ProgressWindow(Language language) : language_(language) {}
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;
  ~ProgressWindow() {
    if (window_ != nullptr) ::DestroyWindow(window_);
  }

  // Shows that `looked_at` of the `listed` names of `folder` were looked
  // at; false once the user cancelled.
  bool update(std::size_t looked_at, std::size_t listed, const std::wstring& folder) {
    const ULONGLONG now = ::GetTickCount64();
    if (cancelled_ || now - updated_ < kUpdateMilliseconds) return !cancelled_;
    updated_ = now;
    if (window_ == nullptr && now - started_ >= kShowAfterMilliseconds) create();
    if (window_ != nullptr) {
      ::SetWindowTextW(text_, progress_text(language_, looked_at, listed, folder).c_str());
      ::SendMessageW(bar_, PBM_SETPOS, listed == 0 ? 0 : WPARAM(looked_at * 1000 / listed), 0);
    }
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (window_ != nullptr && ::IsDialogMessageW(window_, &message)) continue;
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    return !cancelled_;
  }
  bool cancelled() const { return cancelled_; }

 private:
  static constexpr ULONGLONG kShowAfterMilliseconds = 500;
  static constexpr ULONGLONG kUpdateMilliseconds = 50;

  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* self = pointer_from<ProgressWindow>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr &&
        (message == WM_CLOSE || (message == WM_COMMAND && LOWORD(w) == IDCANCEL))) {
      self->cancelled_ = true;
      return 0;
    }
    return ::DefWindowProcW(window, message, w, l);
  }

  void create() {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW type{};
    type.cbSize = sizeof(type);
    type.lpfnWndProc = procedure;
    type.hInstance = instance;
    type.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    type.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    type.lpszClassName = kProgressClass;
    (void)::RegisterClassExW(&type);
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    (void)::InitCommonControlsEx(&controls);
    window_ = ::CreateWindowExW(WS_EX_DLGMODALFRAME, kProgressClass, kTitle,
                                WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, 480, 170,
                                nullptr, nullptr, instance, nullptr);
    if (window_ == nullptr) return;
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    text_ = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT, 16, 12, 440, 40,
                              window_, nullptr, instance, nullptr);
    bar_ = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 16, 58, 440, 18,
                             window_, nullptr, instance, nullptr);
    ::SendMessageW(bar_, PBM_SETRANGE32, 0, 1000);
    const std::wstring cancel = cancel_label(language_);
    (void)::CreateWindowExW(0, L"BUTTON", cancel.c_str(),
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 356, 90, 100, 28,
                            window_, child_id(IDCANCEL), instance, nullptr);
    const HFONT font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
    ::EnumChildWindows(
        window_,
        [](HWND child, LPARAM f) {
          ::SendMessageW(child, WM_SETFONT, WPARAM(f), TRUE);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(font));
    ::ShowWindow(window_, SW_SHOWNORMAL);
  }

  Language language_;
  ULONGLONG started_ = ::GetTickCount64();
  ULONGLONG updated_ = 0;
  bool cancelled_ = false;
  HWND window_ = nullptr;
  HWND text_ = nullptr;
  HWND bar_ = nullptr;
};

void run(int argc, wchar_t** argv) {
  const Language language = user_language();
  if (argc < 2) {
    show_request(language);
    return;
  }
  std::vector<std::wstring> anchors(argv + 1, argv + argc);
  if (hand_over_or_gather(anchors) == Gathered::handed_over) return;
  std::vector<AnchorRun> merged;
  {
    ProgressWindow progress(language);
    for (const std::wstring& anchor : anchors) {
      merged.push_back({anchor, {}, {}});
      MergeReport& report = merged.back().report;
      // Once cancelled, the rest is not merged either.
      if (progress.cancelled()) {
        report.result = AnchorResult::cancelled;
        continue;
      }
      const std::wstring folder = folder_of(anchor);
      (void)merge_playlists(anchor, report, [&](std::size_t looked_at, std::size_t listed) {
        return progress.update(looked_at, listed, folder);
      });
      merged.back().detail = failure_detail(report);
    }
  }
  const ComApartment com;
  show_summary(merged, language);
}

}  // namespace

int run_windowed(int argc, wchar_t** argv) {
  platform::prepare_process(kLocaleName);
  try {
    run(argc, argv);
  } catch (const std::bad_alloc&) {
    // Nothing more can be shown; what was merged stays merged.
  }
  return 0;
}

}  // namespace m3umerge::gui
