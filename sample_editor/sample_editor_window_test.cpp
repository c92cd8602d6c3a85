// The sample editor's finish/cancel window, on a private Xvfb display with a real owner window.
// gtest before the X11 headers: X11 defines None as a macro.
#include <gtest/gtest.h>
// clang-format off
#include <gtk/gtk.h>
#include <gdk/gdkx.h>
// clang-format on

#include <cstdlib>
#include <filesystem>
#include <string>

#include "log/log_writer.h"
#include "module/module_host.h"
#include "tests/support/display.h"
#include "tests/support/sandbox.h"
#include "os/platform.h"
#include "os/posix_path.h"
#include "text/text.h"

namespace fs = std::filesystem;

namespace {

class owner_window : public host::window {
  public:
    GtkWidget* widget = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    owner_window() { gtk_widget_show(widget); }
    ~owner_window() override { gtk_widget_destroy(widget); }
    intptr_t send_message(uint32_t, uintptr_t, intptr_t) override { return 0; }
    host::box_answer message_box(std::u16string_view, std::u16string_view,
                                 host::box_style) override {
        return host::box_answer::no;
    }
    void* native_id() override {
        return reinterpret_cast<void*>(
            static_cast<uintptr_t>(GDK_WINDOW_XID(gtk_widget_get_window(widget))));
    }
    void shrink_and_center() override {}
};

test_support::private_display* display = nullptr;

// An X server of the suite's own, and GTK on it.
bool start_display() {
    display = new test_support::private_display();
    if (display->name().empty()) return false;
    test_support::set_environment("DISPLAY", display->name());
    test_support::unset_environment("WAYLAND_DISPLAY");
    test_support::set_environment("GDK_BACKEND", "x11");
    return gtk_init_check(nullptr, nullptr);
}

// Answers the editor's window as soon as it is shown, as the customer would.
gboolean answer_dialog(gpointer response) {
    GList* windows = gtk_window_list_toplevels();
    bool answered = false;
    for (GList* w = windows; w != nullptr; w = w->next) {
        if (GTK_IS_DIALOG(w->data) && gtk_widget_get_visible(GTK_WIDGET(w->data))) {
            gtk_dialog_response(GTK_DIALOG(w->data), GPOINTER_TO_INT(response));
            answered = true;
        }
    }
    g_list_free(windows);
    return answered ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

struct SampleEditorWindow : ::testing::Test {
    static void SetUpTestSuite() { ASSERT_TRUE(start_display()) << "Xvfb did not start"; }
    static void TearDownTestSuite() {
        delete display;
        display = nullptr;
    }

    fs::path dir;
    startup_file_xml startup;
    std::u16string result;

    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("quorla-sample-window-" + std::to_string(test_support::process_id()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "data");
        test_support::set_environment("XDG_DATA_HOME", (dir / "data").string());
        LogWriter::Destroy();
        LogWriter::Instance().SetPath(os::from_native_path((dir / "test.log").string()));
        startup.install_path = from_utf8(QUORLA_SAMPLE_EDITOR_DIR);
        startup.todo = u"new_work";
        startup.rsid = u"R7";
        startup.internal_calls = {{u"interactive", u"true"}};
    }
    void TearDown() override {
        LogWriter::Destroy();
        fs::remove_all(dir);
    }
};

TEST_F(SampleEditorWindow, FinishHandsBackTheUploadedWork) {
    owner_window owner;
    g_idle_add(answer_dialog, GINT_TO_POINTER(GTK_RESPONSE_ACCEPT));
    EXPECT_TRUE(run_editor_module(&owner, startup, u"libquorla_sample_editor.so", result));
    g_source_remove_by_user_data(GINT_TO_POINTER(GTK_RESPONSE_ACCEPT));
    EXPECT_EQ(result, u"{\"exit_code\":\"0\",\"uploaded_list\":[\"R7.json\"]}");
}

TEST_F(SampleEditorWindow, CancelEndsTheWorkWithoutUploads) {
    owner_window owner;
    g_idle_add(answer_dialog, GINT_TO_POINTER(GTK_RESPONSE_CANCEL));
    EXPECT_FALSE(run_editor_module(&owner, startup, u"libquorla_sample_editor.so", result));
    g_source_remove_by_user_data(GINT_TO_POINTER(GTK_RESPONSE_CANCEL));
    EXPECT_EQ(result, u"{\"exit_code\":\"1\",\"uploaded_list\":[]}");
}

}  // namespace
