#include "platform/web/webkit/PictureWindow.h"

#include <gtk/gtk.h>

#include "platform/foundation/RunLoop.h"

namespace platform {

struct PictureWindow::Impl : std::enable_shared_from_this<Impl> {
    std::function<Image()> draw;
    std::function<void()> onClose;
    std::function<void(bool)> onMinimised;
    bool minimised = false;
    GtkWidget* window = nullptr;
    GtkWidget* image = nullptr;
    TimerHandle timer;
    bool closed = false;

    void refresh() {
        if (closed) return;
        const Image picture = draw();
        if (picture.isEmpty()) return;
        GBytes* bytes = g_bytes_new(picture.rgba().data(), picture.rgba().size());
        GdkPixbuf* pixbuf =
            gdk_pixbuf_new_from_bytes(bytes, GDK_COLORSPACE_RGB, TRUE, 8, picture.width(),
                                      picture.height(), picture.width() * 4);
        g_bytes_unref(bytes);
        gtk_image_set_from_pixbuf(GTK_IMAGE(image), pixbuf);
        g_object_unref(pixbuf);
    }

    static gboolean stateChanged(GtkWidget*, GdkEventWindowState* event, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        const bool now = (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
        if (now != self->minimised) {
            self->minimised = now;
            if (self->onMinimised) self->onMinimised(now);
        }
        return FALSE;
    }

    static void destroyed(GtkWidget*, gpointer data) {
        auto* self = static_cast<Impl*>(data);
        self->window = nullptr;
        if (self->closed) return;
        self->closed = true;
        self->timer = {};
        RunLoop::main().post([weak = self->weak_from_this()] {
            if (auto strong = weak.lock(); strong && strong->onClose) strong->onClose();
        });
    }
};

PictureWindow::PictureWindow(const std::string& title, std::function<Image()> draw,
                             std::function<void()> onClose, double intervalSeconds)
    : impl_(std::make_shared<Impl>()) {
    impl_->draw = std::move(draw);
    impl_->onClose = std::move(onClose);
    impl_->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(impl_->window), title.c_str());
    gtk_window_set_resizable(GTK_WINDOW(impl_->window), FALSE);
    impl_->image = gtk_image_new();
    gtk_container_add(GTK_CONTAINER(impl_->window), impl_->image);
    g_signal_connect(impl_->window, "destroy", G_CALLBACK(Impl::destroyed), impl_.get());
    g_signal_connect(impl_->window, "window-state-event", G_CALLBACK(Impl::stateChanged),
                     impl_.get());
    impl_->refresh();
    gtk_widget_show_all(impl_->window);
    impl_->timer = RunLoop::main().postRepeating(intervalSeconds, [weak = std::weak_ptr(impl_)] {
        if (auto self = weak.lock()) self->refresh();
    });
}

void PictureWindow::setMinimisedHandler(std::function<void(bool)> handler) {
    impl_->onMinimised = std::move(handler);
}

PictureWindow::~PictureWindow() {
    impl_->closed = true;
    impl_->timer = {};
    if (impl_->window) {
        g_signal_handlers_disconnect_by_data(impl_->window, impl_.get());
        gtk_widget_destroy(impl_->window);
    }
}

}  // namespace platform
