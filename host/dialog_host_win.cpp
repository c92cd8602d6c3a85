// The window host on Windows: a captionless pop-up window painted by the dialog through GDI,
// with its own modal message loop. Sizes are physical pixels; the executable's manifest makes
// the process DPI aware, so the system never scales them.
#include <windows.h>
// After <windows.h>, which it needs.
#include <wincodec.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "host/dialog_host.h"
#include "log/log_writer.h"
#include "text/text.h"
#include "os/wide_path.h"

namespace host {

namespace {

const wchar_t kClassName[] = L"QuorlaLauncherWindow";

// A drawing context as a canvas: each copy is one block transfer of a DIB to the context.
class hdc_canvas : public canvas {
  public:
    hdc_canvas(HDC dc, int width, int height) : dc_(dc), width_(width), height_(height) {}
    int width() const override { return width_; }
    int height() const override { return height_; }

    void copy_from(const image& source, int sx, int sy, int w, int h, int dx, int dy) override {
        if (!clip_copy(source.width(), source.height(), width_, height_, sx, sy, w, h, dx, dy))
            return;
        // GDI wants BGR rows padded to four bytes.
        const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t(3);
        std::vector<uint8_t> bits(stride * h);
        for (int y = 0; y < h; ++y) {
            const uint8_t* in = source.row(sy + y) + sx * 3;
            uint8_t* out = bits.data() + stride * y;
            for (int x = 0; x < w; ++x) {
                out[x * 3] = in[x * 3 + 2];
                out[x * 3 + 1] = in[x * 3 + 1];
                out[x * 3 + 2] = in[x * 3];
            }
        }
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;  // top-down, as the picture is stored
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        SetDIBitsToDevice(dc_, dx, dy, w, h, 0, 0, 0, h, bits.data(), &info, DIB_RGB_COLORS);
    }

  private:
    HDC dc_;
    int width_, height_;
};

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}

bool is_png(const uint8_t* data, size_t size) {
    return size > 8 && data[0] == 0x89 && data[1] == 'P' && data[2] == 'N' && data[3] == 'G';
}

// Releases a COM object at the end of the scope.
template <class T>
struct com_ref {
    T* p = nullptr;
    ~com_ref() {
        if (p) p->Release();
    }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
};

// A PNG through the imaging component, scaled to side x side: the system's own icon reader
// takes only 8-bit RGBA PNG pictures, not 16-bit or palette ones.
HICON png_icon_via_wic(const uint8_t* data, size_t size, int side) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HICON icon = nullptr;
    {
        com_ref<IWICImagingFactory> factory;
        com_ref<IWICStream> stream;
        com_ref<IWICBitmapDecoder> decoder;
        com_ref<IWICBitmapFrameDecode> frame;
        com_ref<IWICBitmapScaler> scaler;
        com_ref<IWICFormatConverter> converter;
        std::vector<uint8_t> pixels(static_cast<size_t>(side) * side * 4);
        if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IWICImagingFactory,
                                       reinterpret_cast<void**>(&factory))) &&
            SUCCEEDED(factory->CreateStream(&stream)) &&
            SUCCEEDED(
                stream->InitializeFromMemory(const_cast<BYTE*>(data), static_cast<DWORD>(size))) &&
            SUCCEEDED(factory->CreateDecoderFromStream(stream.p, nullptr,
                                                       WICDecodeMetadataCacheOnDemand, &decoder)) &&
            SUCCEEDED(decoder->GetFrame(0, &frame)) &&
            SUCCEEDED(factory->CreateBitmapScaler(&scaler)) &&
            SUCCEEDED(scaler->Initialize(frame.p, side, side, WICBitmapInterpolationModeFant)) &&
            SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
            SUCCEEDED(converter->Initialize(scaler.p, GUID_WICPixelFormat32bppBGRA,
                                            WICBitmapDitherTypeNone, nullptr, 0,
                                            WICBitmapPaletteTypeCustom)) &&
            SUCCEEDED(converter->CopyPixels(nullptr, side * 4, static_cast<UINT>(pixels.size()),
                                            pixels.data()))) {
            BITMAPV5HEADER header{};
            header.bV5Size = sizeof header;
            header.bV5Width = side;
            header.bV5Height = -side;
            header.bV5Planes = 1;
            header.bV5BitCount = 32;
            header.bV5Compression = BI_BITFIELDS;
            header.bV5RedMask = 0x00FF0000;
            header.bV5GreenMask = 0x0000FF00;
            header.bV5BlueMask = 0x000000FF;
            header.bV5AlphaMask = 0xFF000000;
            void* bits = nullptr;
            HDC screen = GetDC(nullptr);
            HBITMAP color = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header),
                                             DIB_RGB_COLORS, &bits, nullptr, 0);
            ReleaseDC(nullptr, screen);
            HBITMAP mask = CreateBitmap(side, side, 1, 1, nullptr);  // the alpha channel decides
            if (color && mask && bits) {
                std::copy(pixels.begin(), pixels.end(), static_cast<uint8_t*>(bits));
                ICONINFO info{TRUE, 0, 0, mask, color};
                icon = CreateIconIndirect(&info);
            }
            if (color) DeleteObject(color);
            if (mask) DeleteObject(mask);
        }
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return icon;
}

HICON png_icon(const uint8_t* data, size_t size, int side) {
    if (HICON icon = CreateIconFromResourceEx(const_cast<uint8_t*>(data), static_cast<DWORD>(size),
                                              TRUE, 0x00030000, side, side, LR_DEFAULTCOLOR))
        return icon;
    return png_icon_via_wic(data, size, side);
}

// One picture of an icon file, by its directory entry nearest to `side` pixels (the deepest
// colours among equally near ones); null when the bytes are not a readable icon.
HICON icon_of_size(const uint8_t* data, size_t size, int side) {
    if (is_png(data, size)) return png_icon(data, size, side);
    if (size < 6 || le16(data) != 0 || le16(data + 2) != 1) return nullptr;
    const size_t count = le16(data + 4);
    if (count == 0 || size < 6 + count * 16) return nullptr;
    const uint8_t* best = nullptr;
    int best_distance = 0, best_bits = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = data + 6 + i * 16;
        const uint32_t bytes = le32(entry + 8), offset = le32(entry + 12);
        if (bytes == 0 || offset > size || bytes > size - offset) continue;
        const int width = entry[0] == 0 ? 256 : entry[0];
        const int bits = le16(entry + 6);
        const int distance = std::abs(width - side);
        if (best == nullptr || distance < best_distance ||
            (distance == best_distance && bits > best_bits)) {
            best = entry;
            best_distance = distance;
            best_bits = bits;
        }
    }
    if (best == nullptr) return nullptr;
    const uint8_t* picture = data + le32(best + 12);
    const uint32_t bytes = le32(best + 8);
    if (is_png(picture, bytes)) return png_icon(picture, bytes, side);
    return CreateIconFromResourceEx(const_cast<uint8_t*>(picture), bytes, TRUE, 0x00030000, side,
                                    side, LR_DEFAULTCOLOR);
}

class win32_host : public dialog_host {
  public:
    ~win32_host() override {
        destroy_window();
        release_icons();
    }
    bool headless() const override { return false; }

    int run_modal(dialog_events& events, int width, int height) override {
        events_ = &events;
        ended_ = false;
        code_ = dialog_cancel;
        // The dialog's template: a hidden borderless pop-up with an application-window entry;
        // the dialog turns it into a topmost tool window while it initialises.
        if (CreateWindowExW(WS_EX_APPWINDOW, kClassName, L"", WS_POPUP | WS_SYSMENU, 0, 0, width,
                            height, nullptr, nullptr, GetModuleHandleW(nullptr), this) == nullptr) {
            LogWriter::Instance().Write(u"Progress window not created (0x%08x)",
                                        static_cast<int>(GetLastError()));
            hwnd_ = nullptr;
            events_ = nullptr;
            return dialog_cancel;
        }
        // Icons set before there was a window.
        if (big_icon_)
            SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon_));
        if (small_icon_)
            SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
        set_active_host(this);
        events.OnInitDialog();
        if (!ended_) {
            ShowWindow(hwnd_, SW_SHOW);
            UpdateWindow(hwnd_);
            modal_loop();
        }
        set_active_host(nullptr);
        destroy_window();
        events_ = nullptr;
        return code_;
    }

    void end_dialog(int code) override {
        code_ = code;
        ended_ = true;
        // Wake the loop so it sees the end.
        if (hwnd_) PostMessageW(hwnd_, WM_NULL, 0, 0);
    }

    void set_title(std::u16string_view title) override {
        if (hwnd_) SetWindowTextW(hwnd_, os::wide(std::u16string(title)));
    }

    bool set_icon(const uint8_t* data, size_t size) override {
        if (data == nullptr) return false;
        HICON big = icon_of_size(data, size, GetSystemMetrics(SM_CXICON));
        HICON little = icon_of_size(data, size, GetSystemMetrics(SM_CXSMICON));
        if (big == nullptr || little == nullptr) {
            if (big) DestroyIcon(big);
            if (little) DestroyIcon(little);
            return false;
        }
        if (hwnd_) {
            SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
            SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(little));
        }
        // The window keeps using the handles it was given: the old ones go only now.
        release_icons();
        big_icon_ = big;
        small_icon_ = little;
        return true;
    }

    void resize(int width, int height) override {
        if (hwnd_)
            SetWindowPos(hwnd_, nullptr, 0, 0, width, height,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    void center() override {
        if (!hwnd_) return;
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        RECT window;
        if (!GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor) ||
            !GetWindowRect(hwnd_, &window))
            return;
        const RECT& area = monitor.rcWork;
        const int x = area.left + ((area.right - area.left) - (window.right - window.left)) / 2;
        const int y = area.top + ((area.bottom - area.top) - (window.bottom - window.top)) / 2;
        SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    void set_topmost() override {
        if (hwnd_) SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }

    void set_tool_window() override {
        if (!hwnd_) return;
        const LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_EXSTYLE);
        SetWindowLongPtrW(hwnd_, GWL_EXSTYLE,
                          (style & ~LONG_PTR(WS_EX_APPWINDOW)) | WS_EX_TOOLWINDOW);
        SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    }

    void set_shape(const region& shape) override {
        if (!hwnd_) return;
        // One rectangle per run of pixels inside the shape, row by row.
        std::vector<RECT> runs;
        for (int y = 0; y < shape.height(); ++y) {
            for (int x = 0; x < shape.width();) {
                if (!shape.contains(x, y)) {
                    ++x;
                    continue;
                }
                int end = x;
                while (end < shape.width() && shape.contains(end, y)) ++end;
                runs.push_back({x, y, end, y + 1});
                x = end;
            }
        }
        std::vector<uint8_t> buffer(sizeof(RGNDATAHEADER) + runs.size() * sizeof(RECT));
        auto* data = reinterpret_cast<RGNDATA*>(buffer.data());
        data->rdh.dwSize = sizeof(RGNDATAHEADER);
        data->rdh.iType = RDH_RECTANGLES;
        data->rdh.nCount = static_cast<DWORD>(runs.size());
        data->rdh.nRgnSize = static_cast<DWORD>(runs.size() * sizeof(RECT));
        data->rdh.rcBound = {0, 0, shape.width(), shape.height()};
        if (!runs.empty())
            std::copy(runs.begin(), runs.end(), reinterpret_cast<RECT*>(data->Buffer));
        HRGN rgn = ExtCreateRegion(nullptr, static_cast<DWORD>(buffer.size()), data);
        if (rgn == nullptr) {
            LogWriter::Instance().Write(u"Window region not created (%d rectangles)",
                                        static_cast<int>(runs.size()));
            return;
        }
        // The window owns the region from here on.
        if (!SetWindowRgn(hwnd_, rgn, TRUE)) DeleteObject(rgn);
    }

    int client_width() const override { return client_size().right; }
    int client_height() const override { return client_size().bottom; }
    bool visible() const override { return hwnd_ && IsWindowVisible(hwnd_); }

    void set_timer(uintptr_t id, uint32_t milliseconds) override {
        if (hwnd_) SetTimer(hwnd_, id, milliseconds, nullptr);
    }
    void kill_timer(uintptr_t id) override {
        if (hwnd_) KillTimer(hwnd_, id);
    }

    void paint_now(const std::function<void(canvas&)>& draw) override {
        if (!hwnd_) return;
        HDC dc = GetDC(hwnd_);
        if (dc == nullptr) return;
        const RECT client = client_size();
        hdc_canvas target(dc, client.right, client.bottom);
        draw(target);
        ReleaseDC(hwnd_, dc);
    }

    box_answer message_box(std::u16string_view text, std::u16string_view caption,
                           box_style style) override {
        const bool yes_no = style == box_style::yes_no_exclamation;
        // An empty caption stays empty (a null one would become the system's "Error").
        const int answer =
            MessageBoxW(hwnd_, os::wide(std::u16string(text)), os::wide(std::u16string(caption)),
                        (yes_no ? MB_YESNO : MB_OK) | MB_ICONEXCLAMATION);
        if (!yes_no) return box_answer::ok;
        return answer == IDYES ? box_answer::yes : box_answer::no;
    }

    // Everything pending for the thread's windows, without waiting. A quit request ends the
    // pump and is dropped: the job decides when the window closes.
    void pump_pending() override {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) break;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }

    void* native_id() override { return hwnd_; }

    static bool register_class() {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = window_procedure;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.lpszClassName = kClassName;
        // No background brush: the dialog paints every pixel.
        return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }

  private:
    RECT client_size() const {
        RECT r{0, 0, 0, 0};
        if (hwnd_) GetClientRect(hwnd_, &r);
        return r;
    }

    void modal_loop() {
        MSG msg;
        while (!ended_) {
            const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
            if (got == -1) break;
            if (got == 0) {
                // Someone asked the thread to quit: leave the loop and let the caller's loop see
                // it.
                PostQuitMessage(static_cast<int>(msg.wParam));
                break;
            }
            // Enter and Escape go to the dialog's key filter before anything else sees them.
            if ((msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) &&
                (msg.hwnd == hwnd_ || IsChild(hwnd_, msg.hwnd)) && events_ &&
                events_->PreTranslateMessage(static_cast<int>(msg.wParam)))
                continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }

    void destroy_window() {
        if (!hwnd_) return;
        events_ = nullptr;  // no handler runs for a window being torn down
        DestroyWindow(hwnd_);
        hwnd_ = nullptr;
    }

    void release_icons() {
        if (big_icon_) DestroyIcon(big_icon_);
        if (small_icon_) DestroyIcon(small_icon_);
        big_icon_ = small_icon_ = nullptr;
    }

    static LRESULT CALLBACK window_procedure(HWND hwnd, UINT message, WPARAM wparam,
                                             LPARAM lparam) {
        if (message == WM_NCCREATE) {
            auto* self =
                static_cast<win32_host*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
            self->hwnd_ = hwnd;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
        auto* self = reinterpret_cast<win32_host*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        dialog_events* events = self ? self->events_ : nullptr;
        if (events == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
        switch (message) {
            case WM_PAINT: {
                PAINTSTRUCT ps;
                HDC dc = BeginPaint(hwnd, &ps);
                if (dc != nullptr) {
                    const RECT client = self->client_size();
                    hdc_canvas target(dc, client.right, client.bottom);
                    events->OnPaint(target);
                }
                EndPaint(hwnd, &ps);
                return 0;
            }
            case WM_ERASEBKGND:
                return events->OnEraseBkgnd() ? 1 : 0;
            case WM_SIZE:
                DefWindowProcW(hwnd, message, wparam, lparam);
                if (wparam != SIZE_MINIMIZED) events->OnSize(LOWORD(lparam), HIWORD(lparam));
                return 0;
            case WM_TIMER:
                events->OnTimer(wparam);
                return 0;
            case WM_SHOWWINDOW: {
                const LRESULT result = DefWindowProcW(hwnd, message, wparam, lparam);
                events->OnShowWindow(wparam != 0);
                return result;
            }
            case WM_CLOSE:
                // Neither Alt+F4 nor the system menu closes it: the job decides.
                return 0;
            default:
                // The private messages (the job's progress among them) belong to the dialog.
                if (message >= WM_USER && message < 0xC000)
                    return events->OnMessage(message, wparam, lparam);
                return DefWindowProcW(hwnd, message, wparam, lparam);
        }
    }

    dialog_events* events_ = nullptr;
    HWND hwnd_ = nullptr;
    HICON big_icon_ = nullptr, small_icon_ = nullptr;
    int code_ = dialog_cancel;
    bool ended_ = false;
};

// A window station without a visible desktop (a service, a scheduled task without a logged-on
// user) would take our windows and message boxes where no one can answer them.
bool desktop_usable(std::u16string& why) {
    HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS flags{};
    if (station == nullptr ||
        !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) {
        why = u"no window station";
        return false;
    }
    if ((flags.dwFlags & WSF_VISIBLE) == 0) {
        why = u"window station not visible";
        return false;
    }
    if (GetDesktopWindow() == nullptr || GetSystemMetrics(SM_CXSCREEN) <= 0) {
        why = u"no desktop";
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<dialog_host> make_window_host() {
    std::u16string why;
    if (!desktop_usable(why)) {
        LogWriter::Instance().Write(
            u"No desktop to show a window on, running without a window (%s)", why);
        return nullptr;
    }
    if (!win32_host::register_class()) {
        LogWriter::Instance().Write(
            u"Window class not registered, running without a window (0x%08x)",
            static_cast<int>(GetLastError()));
        return nullptr;
    }
    // Where no display driver can be loaded (wine without an X display), window creation fails.
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    if (probe == nullptr) {
        LogWriter::Instance().Write(u"No window can be created, running without a window (0x%08x)",
                                    static_cast<int>(GetLastError()));
        return nullptr;
    }
    DestroyWindow(probe);
    return std::make_unique<win32_host>();
}

}  // namespace host
