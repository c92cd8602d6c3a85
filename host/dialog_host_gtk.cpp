// The dialog host on GTK 3: an undecorated, app-painted top-level window.
#include <algorithm>
#include <gdk/gdk.h>
#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include <map>

#include "host/dialog_host.h"
#include "host/dialog_host_gtk.h"
#include "text/text.h"

namespace host {

namespace {

// Copies into a cairo context: the window's drawing context as a canvas.
class cairo_canvas : public canvas {
public:
    cairo_canvas(cairo_t* cr, int width, int height) : cr_(cr), width_(width), height_(height) {}
    int width() const override { return width_; }
    int height() const override { return height_; }
    void copy_from(const image& source, int sx, int sy, int w, int h, int dx, int dy) override {
        if (w <= 0 || h <= 0 || source.empty()) return;
        // One block transfer through a cairo image surface.
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, source.width(), source.height());
        cairo_surface_flush(surface);
        unsigned char* data = cairo_image_surface_get_data(surface);
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS || data == nullptr) {
            // Out of memory for the surface: slower, but the window still gets its picture.
            cairo_surface_destroy(surface);
            paint_pixels(source, sx, sy, w, h, dx, dy);
            return;
        }
        const int stride = cairo_image_surface_get_stride(surface);
        for (int y = 0; y < source.height(); ++y) {
            const uint8_t* in = source.row(y);
            auto* out = reinterpret_cast<uint32_t*>(data + y * stride);
            for (int x = 0; x < source.width(); ++x)
                out[x] = (uint32_t(in[x * 3]) << 16) | (uint32_t(in[x * 3 + 1]) << 8) | in[x * 3 + 2];
        }
        cairo_surface_mark_dirty(surface);
        cairo_save(cr_);
        cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
        cairo_rectangle(cr_, dx, dy, w, h);
        cairo_clip(cr_);
        cairo_set_source_surface(cr_, surface, dx - sx, dy - sy);
        cairo_paint(cr_);
        cairo_restore(cr_);
        cairo_surface_destroy(surface);
    }

private:
    void paint_pixels(const image& source, int sx, int sy, int w, int h, int dx, int dy) {
        for (int y = std::max(0, -sy); y < h && sy + y < source.height(); ++y) {
            const uint8_t* in = source.row(sy + y);
            for (int x = std::max(0, -sx); x < w && sx + x < source.width(); ++x) {
                const uint8_t* p = in + (sx + x) * 3;
                cairo_set_source_rgb(cr_, p[0] / 255.0, p[1] / 255.0, p[2] / 255.0);
                cairo_rectangle(cr_, dx + x, dy + y, 1, 1);
                cairo_fill(cr_);
            }
        }
    }

    cairo_t* cr_;
    int width_, height_;
};

class gtk_host : public dialog_host {
public:
    explicit gtk_host(void (*set_active)(dialog_host*)) : set_active_(set_active) {}
    ~gtk_host() override { destroy_window(); }
    bool headless() const override { return false; }

    int run_modal(dialog_events& events, int width, int height) override {
        events_ = &events;
        ended_ = false;
        code_ = dialog_cancel;
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
        gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
        gtk_widget_set_app_paintable(window_, TRUE);
        gtk_widget_set_size_request(window_, 1, 1);
        gtk_window_set_default_size(GTK_WINDOW(window_), width, height);
        gtk_widget_add_events(window_, GDK_KEY_PRESS_MASK);
        g_signal_connect(window_, "draw", G_CALLBACK(on_draw), this);
        g_signal_connect(window_, "key-press-event", G_CALLBACK(on_key), this);
        g_signal_connect(window_, "delete-event", G_CALLBACK(on_delete), this);
        g_signal_connect(window_, "size-allocate", G_CALLBACK(on_size), this);
        // Realised but hidden, so that OnInitDialog can size, shape and place it.
        gtk_widget_realize(window_);
        width_ = width;
        height_ = height;
        set_active_(this);
        events.OnInitDialog();
        if (!ended_) {
            gtk_widget_show(window_);
            visible_ = true;
            events.OnShowWindow(true);
            while (!ended_) gtk_main_iteration_do(TRUE);
        }
        set_active_(nullptr);
        destroy_window();
        events_ = nullptr;
        return code_;
    }

    void end_dialog(int code) override {
        code_ = code;
        ended_ = true;
        // Wake the loop so it sees the end.
        g_main_context_wakeup(nullptr);
    }

    void set_title(std::u16string_view title) override {
        if (window_) gtk_window_set_title(GTK_WINDOW(window_), to_utf8(title).c_str());
    }

    bool set_icon(const uint8_t* data, size_t size) override {
        GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
        const bool ok = gdk_pixbuf_loader_write(loader, data, size, nullptr) &&
                        gdk_pixbuf_loader_close(loader, nullptr);
        GdkPixbuf* icon = ok ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
        if (icon != nullptr && window_ != nullptr) gtk_window_set_icon(GTK_WINDOW(window_), icon);
        if (!ok) gdk_pixbuf_loader_close(loader, nullptr);
        g_object_unref(loader);
        return icon != nullptr;
    }

    void resize(int width, int height) override {
        width_ = width;
        height_ = height;
        if (!window_) return;
        gtk_window_resize(GTK_WINDOW(window_), width, height);
        if (GdkWindow* w = gtk_widget_get_window(window_)) gdk_window_resize(w, width, height);
        if (events_) events_->OnSize(width, height);
    }

    void center() override {
        if (!window_) return;
        GdkDisplay* display = gtk_widget_get_display(window_);
        GdkWindow* w = gtk_widget_get_window(window_);
        GdkMonitor* monitor = w ? gdk_display_get_monitor_at_window(display, w) : gdk_display_get_primary_monitor(display);
        if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
        if (monitor == nullptr) return;
        GdkRectangle area;
        gdk_monitor_get_workarea(monitor, &area);
        gtk_window_move(GTK_WINDOW(window_), area.x + (area.width - width_) / 2, area.y + (area.height - height_) / 2);
    }

    void set_topmost() override {
        if (window_) gtk_window_set_keep_above(GTK_WINDOW(window_), TRUE);
    }

    void set_tool_window() override {
        if (!window_) return;
        gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window_), TRUE);
        gtk_window_set_skip_pager_hint(GTK_WINDOW(window_), TRUE);
    }

    void set_shape(const region& shape) override {
        if (!window_) return;
        cairo_region_t* r = cairo_region_create();
        for (int y = 0; y < shape.height(); ++y) {
            for (int x = 0; x < shape.width();) {
                if (!shape.contains(x, y)) {
                    ++x;
                    continue;
                }
                int end = x;
                while (end < shape.width() && shape.contains(end, y)) ++end;
                cairo_rectangle_int_t run{x, y, end - x, 1};
                cairo_region_union_rectangle(r, &run);
                x = end;
            }
        }
        gtk_widget_shape_combine_region(window_, r);
        cairo_region_destroy(r);
    }

    int client_width() const override { return width_; }
    int client_height() const override { return height_; }
    bool visible() const override { return window_ && gtk_widget_get_visible(window_); }

    void set_timer(uintptr_t id, uint32_t milliseconds) override {
        kill_timer(id);
        auto* t = new timer_data{this, id};
        timers_[id] = g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds, on_timeout, t,
                                         [](gpointer p) { delete static_cast<timer_data*>(p); });
    }

    void kill_timer(uintptr_t id) override {
        auto it = timers_.find(id);
        if (it == timers_.end()) return;
        g_source_remove(it->second);
        timers_.erase(it);
    }

    void paint_now(const std::function<void(canvas&)>& draw) override {
        GdkWindow* w = window_ ? gtk_widget_get_window(window_) : nullptr;
        if (w == nullptr || !gdk_window_is_viewable(w)) return;
        const cairo_rectangle_int_t all{0, 0, width_, height_};
        cairo_region_t* area = cairo_region_create_rectangle(&all);
        GdkDrawingContext* context = gdk_window_begin_draw_frame(w, area);
        cairo_t* cr = gdk_drawing_context_get_cairo_context(context);
        cairo_canvas target(cr, width_, height_);
        draw(target);
        gdk_window_end_draw_frame(w, context);
        cairo_region_destroy(area);
        gdk_display_flush(gdk_window_get_display(w));
    }

    box_answer message_box(std::u16string_view text, std::u16string_view caption, box_style style) override {
        const bool yes_no = style == box_style::yes_no_exclamation;
        GtkWidget* box = gtk_message_dialog_new(window_ && visible() ? GTK_WINDOW(window_) : nullptr,
                                                GTK_DIALOG_MODAL, GTK_MESSAGE_WARNING,
                                                yes_no ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK, "%s",
                                                to_utf8(text).c_str());
        gtk_window_set_title(GTK_WINDOW(box), to_utf8(caption).c_str());
        gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
        const int response = gtk_dialog_run(GTK_DIALOG(box));
        gtk_widget_destroy(box);
        if (!yes_no) return box_answer::ok;
        return response == GTK_RESPONSE_YES ? box_answer::yes : box_answer::no;
    }

    void pump_pending() override {
        while (gtk_events_pending() && !ended_) gtk_main_iteration_do(FALSE);
    }

    void* native_id() override {
#ifdef GDK_WINDOWING_X11
        GdkWindow* w = window_ ? gtk_widget_get_window(window_) : nullptr;
        if (w != nullptr && GDK_IS_X11_WINDOW(w))
            return reinterpret_cast<void*>(static_cast<uintptr_t>(gdk_x11_window_get_xid(w)));
#endif
        return nullptr;
    }

private:
    struct timer_data {
        gtk_host* host;
        uintptr_t id;
    };

    static gboolean on_timeout(gpointer p) {
        auto* t = static_cast<timer_data*>(p);
        if (t->host->events_) t->host->events_->OnTimer(t->id);
        return G_SOURCE_CONTINUE;
    }

    static gboolean on_draw(GtkWidget*, cairo_t* cr, gpointer self) {
        auto* host = static_cast<gtk_host*>(self);
        if (host->events_ == nullptr) return TRUE;
        host->events_->OnEraseBkgnd();
        cairo_canvas target(cr, host->width_, host->height_);
        host->events_->OnPaint(target);
        return TRUE;
    }

    static gboolean on_key(GtkWidget*, GdkEventKey* event, gpointer self) {
        auto* host = static_cast<gtk_host*>(self);
        int key = 0;
        if (event->keyval == GDK_KEY_Return || event->keyval == GDK_KEY_KP_Enter) key = key_return;
        if (event->keyval == GDK_KEY_Escape) key = key_escape;
        if (host->events_ && host->events_->PreTranslateMessage(key)) return TRUE;
        return FALSE;
    }

    // The window cannot be closed from outside; the job decides when it ends.
    static gboolean on_delete(GtkWidget*, GdkEvent*, gpointer) { return TRUE; }

    static void on_size(GtkWidget*, GdkRectangle* allocation, gpointer self) {
        auto* host = static_cast<gtk_host*>(self);
        if (allocation->width == host->width_ && allocation->height == host->height_) return;
        host->width_ = allocation->width;
        host->height_ = allocation->height;
        if (host->events_) host->events_->OnSize(allocation->width, allocation->height);
    }

    void destroy_window() {
        for (auto& [id, source] : timers_) g_source_remove(source);
        timers_.clear();
        if (window_) {
            gtk_widget_destroy(window_);
            window_ = nullptr;
            while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
        }
        visible_ = false;
    }

    void (*set_active_)(dialog_host*);
    dialog_events* events_ = nullptr;
    GtkWidget* window_ = nullptr;
    std::map<uintptr_t, guint> timers_;
    int width_ = 0, height_ = 0, code_ = dialog_cancel;
    bool ended_ = false, visible_ = false;
};

}  // namespace

std::unique_ptr<dialog_host> make_gtk_host(void (*set_active)(dialog_host*)) {
    static bool initialised = false;
    static bool available = false;
    if (!initialised) {
        initialised = true;
        available = gtk_init_check(nullptr, nullptr);
    }
    if (!available) return nullptr;
    return std::make_unique<gtk_host>(set_active);
}

}  // namespace host
