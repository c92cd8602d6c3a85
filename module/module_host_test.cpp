#include "module/module_host.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <fstream>
#include <sstream>

#include "module/module_host_test_os.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_log.h"
#include "text/text.h"

namespace {

struct fake_window : host::window {
    int shrinks = 0;
    intptr_t send_message(uint32_t, uintptr_t, intptr_t) override { return 0; }
    host::box_answer message_box(std::u16string_view, std::u16string_view, host::box_style) override {
        return host::box_answer::no;
    }
    void* native_id() override { return reinterpret_cast<void*>(uintptr_t(4242)); }
    void shrink_and_center() override { ++shrinks; }
};

struct ModuleHost : ::testing::Test {
    test_support::log_capture log;
    fake_window window;
    startup_file_xml startup;
    std::string trace_path;

    void SetUp() override {
        trace_path = (log.folder() / "trace.txt").string();
        test_support::set_environment("QUORLA_TEST_TRACE", trace_path);
        startup.install_path = from_utf8(std::string(QUORLA_TEST_BINARY_DIR) + "/tests/modules/");
        startup.todo = u"new_work";
        startup.config_url = u"https://config.example:8443/editor/cfg";
        startup.editor_id = u"ed1";
        startup.rsid = u"rs1";
        startup.lsid = u"ls1";
        startup.user_id = u"u1";
        startup.storage_url = u"http://storage/x";
        startup.count = 3;
        startup.internal_calls = {{u"a", u"1"}, {u"", u"no id"}, {u"set_key_url", u"http://h/?k=K&field=result"}};
    }
    void TearDown() override { test_support::unset_environment("QUORLA_TEST_TRACE"); }

    std::string trace() {
        std::ifstream in(trace_path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool run(const char* variant, std::u16string& result) {
        return run_editor_module(&window, startup, from_utf8(std::string("test_module_") + variant + kModuleSuffix), result);
    }
};

TEST_F(ModuleHost, EveryArgumentReachesTheModuleInOrderAndTheLibraryIsReleased) {
    std::u16string result = u"before";
    EXPECT_TRUE(run("full", result));
    EXPECT_EQ(result, u"{\"exit_code\":\"0\",\"uploaded_list\":[\"w.json\"]}");
    EXPECT_EQ(window.shrinks, 1);
    const std::string install = to_utf8(startup.install_path);
    EXPECT_EQ(trace(), "Initialize 4242 [modal] [" + install + "] [] [config.example:8443]\n"
                       "InternalCall [a] [1] []\n"
                       "InternalCall [] [no id] []\n"
                       "InternalCall [set_key_url] [http://h/?k=K&field=result] []\n"
                       "NewWork [https://config.example:8443/editor/cfg] [ed1] [rs1] 3 null\n"
                       "Uninitialize\n");
    EXPECT_EQ(held_module_libraries(), 0);
}

TEST_F(ModuleHost, ThreadThatOutlivesUninitializeStillFindsItsCode) {
    std::u16string result;
    EXPECT_TRUE(run("thread_outlives", result));
    for (int i = 0; i < 100 && trace().find("thread still running") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_NE(trace().find("Uninitialize\nthread still running\n"), std::string::npos) << trace();
}

TEST_F(ModuleHost, WorkModesSelectTheirExportWithTheirArguments) {
    struct Case {
        const char16_t* todo;
        const char* line;
    } cases[] = {
        {u"open_work", "OpenWork [https://config.example:8443/editor/cfg] [ed1] [rs1] 3\n"},
        {u"open_local_work", "OpenLocalWork [ls1] [ed1]\n"},
        {u"open_storage", "OpenStorage [https://config.example:8443/editor/cfg] [ed1]\n"},
        {u"download_work", "DownloadWorks [rs1] [u1] [http://storage/x]\n"},
    };
    for (const auto& c : cases) {
        std::remove(trace_path.c_str());
        startup.todo = c.todo;
        std::u16string result;
        EXPECT_TRUE(run("full", result)) << c.line;
        EXPECT_NE(trace().find(c.line), std::string::npos) << trace();
        EXPECT_EQ(trace().substr(trace().rfind('\n', trace().size() - 2) + 1), "Uninitialize\n");
        EXPECT_EQ(held_module_libraries(), 0);
    }
}

TEST_F(ModuleHost, UnknownWorkModeRunsNoExportButUninitializes) {
    for (const char16_t* todo : {u"NEW_WORK", u"new_work ", u"xnew_work", u""}) {
        std::remove(trace_path.c_str());
        startup.todo = todo;
        std::u16string result = u"kept";
        EXPECT_FALSE(run("full", result));
        EXPECT_EQ(result, u"kept");
        EXPECT_EQ(trace().find("Work"), std::string::npos) << trace();
        EXPECT_EQ(trace().substr(trace().rfind('\n', trace().size() - 2) + 1), "Uninitialize\n");
        EXPECT_EQ(held_module_libraries(), 0);
    }
    EXPECT_EQ(log.lines(), u"") << "an unknown mode is not logged";
}

TEST_F(ModuleHost, BrokenModulesTable) {
    struct Case {
        const char* variant;
        const char16_t* todo;
        bool ok;
        std::u16string line;  // expected log line, empty for none
        bool uninitialized;
    } cases[] = {
        {"no_initialize", u"new_work", false, u"* 오류: Initialize()함수가 존재하지 않습니다. (" + kMissingExportCode + u")", false},
        {"initialize_fails", u"new_work", false, u"* 오류: Initialize()함수호출에 실패 했습니다.", false},
        {"no_new_work", u"new_work", false, u"* 오류: NewWork()함수가 존재하지 않습니다. (" + kMissingExportCode + u")", false},
        {"no_open_work", u"open_work", false, u"* 오류: OpenWork()함수가 존재하지 않습니다. (" + kMissingExportCode + u")", false},
        {"no_open_local_work", u"open_local_work", false, u"* 오류: OpenLocalWork()함수가 존재하지 않습니다. (" + kMissingExportCode + u")", false},
        {"no_open_storage", u"open_storage", false, u"* 오류: OpenStorage()함수가 존재하지 않습니다. (" + kMissingExportCode + u")", false},
        {"no_download_works", u"download_work", false, u"* 오류: DownloadWorks()함수가 존재하지 않습니다. (" + kMissingExportCode + u")", false},
        {"no_uninitialize", u"new_work", false, u"* 오류: Uninitialize()함수가 존재하지 않습니다. (" + kMissingExportCode + u")", false},
        {"no_internal_call", u"new_work", true, u"", true},
    };
    for (const auto& c : cases) {
        std::remove(trace_path.c_str());
        startup.todo = c.todo;
        std::u16string result;
        EXPECT_EQ(run(c.variant, result), c.ok) << c.variant;
        if (!c.line.empty()) {
            EXPECT_TRUE(log.has_line(c.line)) << c.variant << "\n" << log.lines_utf8();
        }
        EXPECT_EQ(trace().find("Uninitialize") != std::string::npos, c.uninitialized) << c.variant;
        EXPECT_EQ(held_module_libraries(), 0) << c.variant << " must be released";
    }
}

TEST_F(ModuleHost, MissingUninitializeLeavesTheResultUntaken) {
    std::u16string result = u"kept";
    EXPECT_FALSE(run("no_uninitialize", result));
    EXPECT_EQ(result, u"kept");
}

TEST_F(ModuleHost, FailedWorkStillHandsBackItsText) {
    std::u16string result;
    EXPECT_FALSE(run("work_fails_with_text", result));
    EXPECT_EQ(result, u"{\"exit_code\":\"0\",\"uploaded_list\":[\"w.json\"]}");
    EXPECT_EQ(log.lines(), u"");
}

TEST_F(ModuleHost, NoTextLeavesTheOutputAlone) {
    std::u16string result = u"kept";
    EXPECT_TRUE(run("work_stores_nothing", result));
    EXPECT_EQ(result, u"kept");
}

TEST_F(ModuleHost, LoadFailureLogsPathCodeAndLoaderText) {
    std::u16string result;
    EXPECT_FALSE(run("missing", result));
    const std::u16string path = startup.install_path + u"test_module_missing" + from_utf8(kModuleSuffix);
    EXPECT_TRUE(log.has_line(u"* 오류: 모듈을 로딩하지 못했습니다. (path:" + path + u", " + kMissingModuleCode + u")"))
        << log.lines_utf8();
    EXPECT_NE(log.lines().find(u"     " + missing_module_text(path)), std::u16string::npos) << "the loader's own text follows";
}

TEST_F(ModuleHost, ModuleNamesLeadingOutOfTheInstallFolderAreNeverLoaded) {
    for (const char16_t* name : {u"../modules/test_module_full.so", u"/tmp/x.so", u"a/../../x.so", u"a\\..\\x.so",
                                 u"...\\x.so", u"a/. ./x.so", u"\\\\server\\x.so", u"NUL.so"}) {
        std::u16string result;
        EXPECT_FALSE(run_editor_module(&window, startup, name, result)) << to_utf8(name);
        EXPECT_TRUE(log.has_line(u"* 오류: 모듈 파일 이름이 올바르지 않습니다. (path:" + startup.install_path + name + u")"));
    }
    EXPECT_EQ(trace(), "");
}

TEST_F(ModuleHost, NoWindowMeansNoRunButRelease) {
    std::u16string result;
    EXPECT_FALSE(run_editor_module(nullptr, startup, u"test_module_full" + from_utf8(kModuleSuffix), result));
    EXPECT_EQ(trace(), "");
    EXPECT_EQ(held_module_libraries(), 0);
}

TEST(ConfigHost, HostPartOfTheConfigurationAddress) {
    struct Case {
        std::u16string url, host;
    } cases[] = {
        {u"https://shop.example/cfg/a", u"shop.example"},
        {u"http://shop.example:8080/x", u"shop.example:8080"},
        {u"http://shop.example", u"shop.example"},
        {u"shop.example/cfg", u""},
        {u"", u""},
        {u"//h/x", u"h"},
    };
    for (const auto& c : cases) EXPECT_EQ(config_host_of(c.url), c.host) << to_utf8(c.url);
}

}  // namespace
