#include "keymend_process.h"

#include <psapi.h>

#include <algorithm>
#include <cstdlib>

namespace {

// The icon control of a system message box.
constexpr int kMessageBoxIcon = 0x0440;
constexpr int kMessageBoxText = 0xFFFF;

struct WindowSearch {
    DWORD process;
    const wchar_t* className;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM search) {
    auto* wanted = reinterpret_cast<WindowSearch*>(search);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t className[64] = L"";
    GetClassNameW(window, className, 64);
    if (process == wanted->process && IsWindowVisible(window) &&
        lstrcmpiW(className, wanted->className) == 0) {
        wanted->found.push_back(window);
    }
    return TRUE;
}

std::vector<HWND> TopLevelWindows(DWORD process, const wchar_t* className) {
    WindowSearch search{process, className, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

KeymendProcess::KeymendProcess(const std::wstring& program, const std::wstring& arguments,
                               int showState, bool suspended) {
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty()) {
        commandLine += L" " + arguments;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showState);
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                        suspended ? CREATE_SUSPENDED : 0, nullptr, nullptr, &startup, &info_)) {
        info_ = {};
    }
}

KeymendProcess::~KeymendProcess() {
    if (!started()) {
        return;
    }
    if (running()) {
        TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, kPatience);
    }
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

bool KeymendProcess::running() const {
    return started() && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

HWND KeymendProcess::WaitForMainWindow(DWORD timeoutMs) const {
    HWND main = nullptr;
    WaitUntil(
        [&] {
            std::vector<HWND> windows = TopLevelWindows(id(), L"KEYMEND");
            main = windows.empty() ? nullptr : windows.front();
            return main != nullptr || !running();
        },
        timeoutMs);
    // Its texts are set before it is shown; wait until it takes input too.
    if (main != nullptr) {
        WaitForInputIdle(info_.hProcess, timeoutMs);
    }
    return main;
}

std::vector<HWND> KeymendProcess::MessageBoxes() const {
    return started() ? TopLevelWindows(id(), L"#32770") : std::vector<HWND>{};
}

HWND KeymendProcess::WaitForMessageBox(DWORD timeoutMs) const {
    HWND box = nullptr;
    WaitUntil(
        [&] {
            std::vector<HWND> boxes = MessageBoxes();
            box = boxes.empty() ? nullptr : boxes.front();
            return box != nullptr || !running();
        },
        timeoutMs);
    return box;
}

long long KeymendProcess::MemoryInUse() const {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(info_.hProcess, &counters, sizeof counters);
    return static_cast<long long>(counters.PagefileUsage);
}

std::optional<DWORD> KeymendProcess::WaitForExit(DWORD timeoutMs) const {
    if (!started() || WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

std::wstring WindowText(HWND window) {
    wchar_t text[1024] = L"";
    GetWindowTextW(window, text, 1024);
    return text;
}

std::wstring ItemText(HWND dialog, int id) {
    wchar_t text[1024] = L"";
    GetDlgItemTextW(dialog, id, text, 1024);
    return text;
}

std::wstring ItemCaption(HWND dialog, int id) {
    return WindowText(GetDlgItem(dialog, id));
}

bool ItemEnabled(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    return item != nullptr && IsWindowEnabled(item);
}

std::vector<std::wstring> ControlTexts(HWND window) {
    std::vector<std::wstring> texts;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM list) {
            reinterpret_cast<std::vector<std::wstring>*>(list)->push_back(WindowText(child));
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&texts));
    return texts;
}

void Press(HWND dialog, int id) {
    PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

MessageBoxView ViewMessageBox(HWND box) {
    MessageBoxView view;
    view.caption = WindowText(box);
    view.text = ItemText(box, kMessageBoxText);
    view.owner = GetWindow(box, GW_OWNER);
    auto visible = [box](int id) {
        HWND item = GetDlgItem(box, id);
        return item != nullptr && IsWindowVisible(item);
    };
    view.ok = visible(IDOK);
    view.yes = visible(IDYES);
    view.no = visible(IDNO);
    // The icon control is there in every box; only its picture tells.
    DWORD_PTR icon = 0;
    HWND iconControl = GetDlgItem(box, kMessageBoxIcon);
    view.icon =
        iconControl != nullptr && IsWindowVisible(iconControl) &&
        SendMessageTimeoutW(iconControl, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &icon) != 0 &&
        icon != 0;
    return view;
}

namespace {

// A top-down 32-bit DIB section of the area's size, selected into a memory
// DC; Pixels of it once drawn.
class Canvas {
  public:
    explicit Canvas(const RECT& area)
        : width_(area.right - area.left), height_(area.bottom - area.top) {
        BITMAPINFO info = {};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), width_, -height_, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        old_ = SelectObject(dc_, bitmap_);
    }
    ~Canvas() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    HDC dc() const { return dc_; }
    Pixels pixels() const {
        GdiFlush();
        if (bits_ == nullptr) {
            return {};
        }
        const auto* first = static_cast<const unsigned*>(bits_);
        return Pixels(first, first + width_ * height_);
    }
    unsigned* bits() const { return static_cast<unsigned*>(bits_); }

  private:
    int width_;
    int height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    void* bits_ = nullptr;
};

// Drawing on the screen and drawing here may round a blended edge apart.
bool Alike(const Pixels& a, const Pixels& b) {
    if (a.empty() || a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        for (int shift : {0, 8, 16}) {
            int difference =
                static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF);
            if (std::abs(difference) > 8) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

Pixels ScreenPixels(const RECT& area) {
    Canvas canvas(area);
    HDC screen = GetDC(nullptr);
    BitBlt(canvas.dc(), 0, 0, area.right - area.left, area.bottom - area.top, screen, area.left,
           area.top, SRCCOPY);
    ReleaseDC(nullptr, screen);
    return canvas.pixels();
}

Pixels DrawnIcon(const RECT& area, unsigned background, HICON icon, int x, int y, int size) {
    Canvas canvas(area);
    std::size_t count = static_cast<std::size_t>(area.right - area.left) *
                        static_cast<std::size_t>(area.bottom - area.top);
    if (canvas.bits() == nullptr) {
        return {};
    }
    std::fill(canvas.bits(), canvas.bits() + count, background);
    DrawIconEx(canvas.dc(), x, y, icon, size, size, 0, nullptr, DI_NORMAL);
    return canvas.pixels();
}

bool ShowsIcon(const RECT& area, HICON icon, int x, int y, int size, DWORD timeoutMs) {
    return icon != nullptr &&
           WaitUntil(
               [&] {
                   Pixels shown = ScreenPixels(area);
                   return !shown.empty() &&
                          Alike(shown, DrawnIcon(area, shown.front(), icon, x, y, size));
               },
               timeoutMs);
}

bool ShowsSystemIcon(HWND box, LPCWSTR iconId) {
    RECT area;
    HWND control = GetDlgItem(box, kMessageBoxIcon);
    return control != nullptr && GetWindowRect(control, &area) &&
           ShowsIcon(area, LoadIconW(nullptr, iconId), 0, 0, 0);
}
