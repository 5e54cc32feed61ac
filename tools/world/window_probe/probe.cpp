#include "probe.h"

#include <cwchar>

namespace {
constexpr UINT kSendTimeoutMs = 2000;

bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    DWORD_PTR value = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &value)) {
        return false;
    }
    result = static_cast<LRESULT>(value);
    return true;
}
}  // namespace

HWND FindProgramWindow(DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindWindowW(L"NORVA1MainWindow", nullptr)) != nullptr; }, timeoutMs);
    return found;
}

HWND FindProgramWindowOf(DWORD processId, DWORD timeoutMs) {
    struct Search {
        DWORD processId;
        HWND found;
    } search{processId, nullptr};
    WaitUntil(
        [&] {
            EnumWindows(
                [](HWND window, LPARAM context) -> BOOL {
                    auto* s = reinterpret_cast<Search*>(context);
                    wchar_t className[64] = {};
                    DWORD owner = 0;
                    GetWindowThreadProcessId(window, &owner);
                    if (owner != s->processId || !GetClassNameW(window, className, 64)) return TRUE;
                    if (wcscmp(className, L"NORVA1MainWindow") != 0) return TRUE;
                    s->found = window;
                    return FALSE;
                },
                reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        timeoutMs);
    return search.found;
}

HWND ProbeControl(HWND main, int id) { return main ? GetDlgItem(main, id) : nullptr; }

bool ProbeText(HWND main, int id, std::wstring& text) {
    HWND control = ProbeControl(main, id);
    if (control == nullptr) return false;
    LRESULT length = 0;
    if (!Send(control, WM_GETTEXTLENGTH, 0, 0, length) || length < 0) return false;
    std::wstring buffer(static_cast<size_t>(length) + 1, L'\0');
    LRESULT copied = 0;
    if (!Send(control, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(&buffer[0]), copied)) return false;
    buffer.resize(static_cast<size_t>(copied < 0 ? 0 : copied));
    text = buffer;
    return true;
}

bool ProbeEnabled(HWND main, int id) {
    HWND control = ProbeControl(main, id);
    return control != nullptr && IsWindowEnabled(control);
}

int ProbeChecked(HWND main, int id) {
    HWND control = ProbeControl(main, id);
    LRESULT state = 0;
    if (control == nullptr || !Send(control, BM_GETCHECK, 0, 0, state)) return -1;
    return static_cast<int>(state);
}

bool ProbePostCommand(HWND main, int id) {
    HWND control = ProbeControl(main, id);
    return PostMessageW(main, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control)) != 0;
}

bool ProbeClick(HWND main, int id) {
    HWND control = ProbeControl(main, id);
    LRESULT ignored = 0;
    return control != nullptr && Send(control, BM_CLICK, 0, 0, ignored);
}

bool ProbePost(HWND main, UINT message, WPARAM wParam, LPARAM lParam) {
    return PostMessageW(main, message, wParam, lParam) != 0;
}

bool ProbeCombo(HWND main, int id, ComboState& state) {
    HWND combo = ProbeControl(main, id);
    LRESULT count = 0;
    LRESULT selection = 0;
    if (combo == nullptr || !Send(combo, CB_GETCOUNT, 0, 0, count) || !Send(combo, CB_GETCURSEL, 0, 0, selection)) {
        return false;
    }
    state.items.clear();
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = 0;
        if (!Send(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0, length) || length < 0) return false;
        std::wstring item(static_cast<size_t>(length) + 1, L'\0');
        LRESULT copied = 0;
        if (!Send(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item[0]), copied)) {
            return false;
        }
        item.resize(static_cast<size_t>(copied < 0 ? 0 : copied));
        state.items.push_back(item);
    }
    state.selection = static_cast<int>(selection);
    return true;
}

bool ProbeSelectCombo(HWND main, int id, int index) {
    HWND combo = ProbeControl(main, id);
    LRESULT result = 0;
    return combo != nullptr && Send(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0, result) &&
           (index < 0 || result == index);
}

bool ProbeScreenRect(HWND main, int id, RECT& rect) {
    HWND control = ProbeControl(main, id);
    return control != nullptr && GetWindowRect(control, &rect);
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() - start >= timeoutMs) return false;
        Sleep(20);
    }
}

bool WaitForText(HWND main, int id, const std::wstring& text, DWORD timeoutMs) {
    return WaitUntil(
        [&] {
            std::wstring now;
            return ProbeText(main, id, now) && now == text;
        },
        timeoutMs);
}

bool WaitForEnabled(HWND main, int id, bool enabled, DWORD timeoutMs) {
    return WaitUntil([&] { return ProbeEnabled(main, id) == enabled; }, timeoutMs);
}

uint32_t ScreenPixels::At(int x, int y) const {
    const int col = x - left;
    const int row = y - top;
    if (col < 0 || row < 0 || col >= width || row >= height) return 0;
    return pixels[static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(col)] & 0xFFFFFF;
}

bool CaptureScreen(const RECT& area, ScreenPixels& shot) {
    shot.left = area.left;
    shot.top = area.top;
    shot.width = area.right - area.left;
    shot.height = area.bottom - area.top;
    if (shot.width <= 0 || shot.height <= 0) return false;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = shot.width;
    info.bmiHeader.biHeight = -shot.height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = bitmap != nullptr;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, shot.width, shot.height, screen, area.left, area.top, SRCCOPY) != 0;
        GdiFlush();
        const auto* source = static_cast<const uint32_t*>(bits);
        shot.pixels.assign(source, source + static_cast<size_t>(shot.width) * static_cast<size_t>(shot.height));
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

bool SaveBitmap(const ScreenPixels& shot, const std::wstring& path) {
    const uint32_t rowBytes = (static_cast<uint32_t>(shot.width) * 3 + 3) & ~3u;
    const uint32_t imageBytes = rowBytes * static_cast<uint32_t>(shot.height);
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER header{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + imageBytes;
    header.biSize = sizeof header;
    header.biWidth = shot.width;
    header.biHeight = shot.height;  // bottom-up
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = imageBytes;

    std::vector<uint8_t> data(imageBytes, 0);
    for (int row = 0; row < shot.height; ++row) {
        uint8_t* out = &data[static_cast<size_t>(shot.height - 1 - row) * rowBytes];
        for (int col = 0; col < shot.width; ++col) {
            const uint32_t c = shot.pixels[static_cast<size_t>(row) * static_cast<size_t>(shot.width) + static_cast<size_t>(col)];
            out[col * 3 + 0] = static_cast<uint8_t>(c & 0xFF);
            out[col * 3 + 1] = static_cast<uint8_t>((c >> 8) & 0xFF);
            out[col * 3 + 2] = static_cast<uint8_t>((c >> 16) & 0xFF);
        }
    }
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(handle, &file, sizeof file, &written, nullptr) &&
              WriteFile(handle, &header, sizeof header, &written, nullptr) &&
              WriteFile(handle, data.data(), imageBytes, &written, nullptr) && written == imageBytes;
    CloseHandle(handle);
    return ok;
}
