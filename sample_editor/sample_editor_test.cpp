#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "log/log_writer.h"
#include "module/module_host.h"
#include "tests/support/sandbox.h"
#include "os/platform.h"
#include "text/text.h"

namespace fs = std::filesystem;

namespace {

class fake_window : public host::window {
  public:
    intptr_t send_message(uint32_t, uintptr_t, intptr_t) override { return 0; }
    host::box_answer message_box(std::u16string_view, std::u16string_view,
                                 host::box_style) override {
        return host::box_answer::no;
    }
    void* native_id() override { return nullptr; }  // headless: the editor must not ask
    void shrink_and_center() override {}
};

struct SampleEditor : ::testing::Test {
    fs::path dir;
    fake_window window;
    startup_file_xml startup;
    std::u16string result;

    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("quorla-sample-" + std::to_string(test_support::process_id()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "data");
        test_support::set_environment("XDG_DATA_HOME", (dir / "data").string());
        LogWriter::Destroy();
        LogWriter::Instance().SetPath((dir / "test.log").u16string());
        startup.install_path = from_utf8(QUORLA_SAMPLE_EDITOR_DIR);
        startup.config_url = u"http://127.0.0.1:8080/config";
        startup.editor_id = u"ed";
        startup.rsid = u"R\"1";
        startup.count = 2;
        startup.internal_calls = {{u"trace_file", (dir / "trace.txt").u16string()},
                                  {u"interactive", u"true"}};
    }
    void TearDown() override {
        LogWriter::Destroy();
        fs::remove_all(dir);
    }
    std::vector<std::string> trace() {
        std::ifstream in(dir / "trace.txt");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
};

TEST_F(SampleEditor, TracesEveryCallAndNamesTheUploadedWork) {
    startup.todo = u"open_work";
    ASSERT_TRUE(run_editor_module(&window, startup, from_utf8(QUORLA_SAMPLE_EDITOR_FILE), result));
    const std::string trace_path = (dir / "trace.txt").string();
    EXPECT_EQ(trace(), (std::vector<std::string>{
                           "Initialize|0|modal|" + std::string(QUORLA_SAMPLE_EDITOR_DIR) +
                               "||127.0.0.1:8080",
                           "InternalCall|trace_file|" + trace_path + "|",
                           "InternalCall|interactive|true|",
                           "OpenWork|http://127.0.0.1:8080/config|ed|R\"1|2",
                           "Uninitialize",
                       }));
    EXPECT_EQ(result, u"{\"exit_code\":\"0\",\"uploaded_list\":[\"R\\\"1.json\"]}");
}

TEST_F(SampleEditor, HandsBackTheGivenResultText) {
    const std::u16string given = u"{\"exit_code\":\"3\",\"uploaded_list\":{\"a\":\"\ud55c\"}}";
    startup.internal_calls.push_back({u"result_json", given});
    for (const char16_t* todo :
         {u"new_work", u"open_local_work", u"open_storage", u"download_work"}) {
        startup.todo = todo;
        result.clear();
        EXPECT_TRUE(run_editor_module(&window, startup, from_utf8(QUORLA_SAMPLE_EDITOR_FILE), result));
        EXPECT_EQ(result, given) << to_utf8(todo);
    }
    EXPECT_FALSE(fs::exists(dir / "test.log"));
}

}  // namespace
