#include "result/cart_key.h"

#include <gtest/gtest.h>

#include <deque>

#include "inet/allowed_servers.h"
#include "tests/support/http_server.h"
#include "tests/support/test_log.h"

namespace {

using test_support::http_server;
using test_support::reply;

// Answers the retry question from a script and counts the questions.
struct scripted_window : host::window {
    std::deque<host::box_answer> answers;
    int questions = 0;
    std::u16string last_text, last_caption;
    intptr_t send_message(uint32_t, uintptr_t, intptr_t) override { return 0; }
    host::box_answer message_box(std::u16string_view text, std::u16string_view caption, host::box_style) override {
        ++questions;
        last_text = text;
        last_caption = caption;
        if (answers.empty()) return host::box_answer::no;
        const auto a = answers.front();
        answers.pop_front();
        return a;
    }
    void* native_id() override { return nullptr; }
    void shrink_and_center() override {}
};

const char kSuccess[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?><response><result code=\"0000\"/></response>";

struct CartKey : ::testing::Test {
    test_support::log_capture log;
    http_server shop;
    scripted_window window;
};

TEST_F(CartKey, ElevenSilentFailuresThenNoEndsWithOneQuestion) {
    shop.serve("/cart", reply::text("busy", 500));
    EXPECT_FALSE(deliver_cart_key(shop.url16("/cart?k=1"), &window));
    EXPECT_EQ(shop.request_count("/cart"), 11);
    EXPECT_EQ(window.questions, 1);
    EXPECT_EQ(window.last_text, u"장바구니 연동중 오류가 발생였습니다. 다시 시도하시겠습니까?");
    EXPECT_EQ(window.last_caption, u"질문");
    EXPECT_EQ(log.count_line(u"*오류 : 장바구니 연동키를 전송하는중 오류가 발생였습니다 (url:" + shop.url16("/cart?k=1") +
                             u" status:500)"),
              1u);
}

// No proxy is set up here, so the answering server stands for the proxy (as an office's
// transparent one would): one attempt, no question, one line that names it.
TEST_F(CartKey, ProxyThatWantsCredentialsEndsAtOnce) {
    shop.serve("/cart", reply::text("credentials wanted", 407));
    EXPECT_FALSE(deliver_cart_key(shop.url16("/cart"), &window));
    EXPECT_EQ(shop.request_count("/cart"), 1);
    EXPECT_EQ(window.questions, 0);
    EXPECT_EQ(log.count_line(u"*오류 : 장바구니 연동키를 전송하는중 오류가 발생였습니다 (url:" +
                             shop.url16("/cart") + u" status:407)"),
              1u);
    EXPECT_EQ(log.count_line(u"*오류 : 프록시 서버가 인증을 요구합니다. (proxy:" +
                             shop.url16("").substr(7) + u", status:407)"),
              1u);
}

TEST_F(CartKey, ServerOutsideTheAllowedListIsNeverAsked) {
    shop.serve("/cart", reply::text(kSuccess));
    // NOLINTNEXTLINE(performance-unnecessary-copy-initialization): the list changes below
    const std::vector<std::u16string> saved = inet::allowed_servers();
    inet::set_allowed_servers({u"shop.example"});
    EXPECT_FALSE(deliver_cart_key(shop.url16("/cart"), &window));
    inet::set_allowed_servers(saved);
    EXPECT_EQ(shop.request_count("/cart"), 0);
    EXPECT_EQ(window.questions, 0);
    EXPECT_EQ(log.count_line(u"* 오류: 허용되지 않은 서버입니다. (url:" + shop.url16("/cart") + u")"), 1u);
}

TEST_F(CartKey, YesBuysOneMoreAttempt) {
    std::vector<reply> answers(11, reply::text("busy", 500));
    answers.push_back(reply::text(kSuccess));
    shop.serve_sequence("/cart", answers);
    window.answers = {host::box_answer::yes};
    EXPECT_TRUE(deliver_cart_key(shop.url16("/cart"), &window));
    EXPECT_EQ(shop.request_count("/cart"), 12);
    EXPECT_EQ(window.questions, 1);
}

TEST_F(CartKey, EachYesAsksAgainAfterTheNextFailure) {
    shop.serve("/cart", reply::text("busy", 503));
    window.answers = {host::box_answer::yes, host::box_answer::yes, host::box_answer::no};
    EXPECT_FALSE(deliver_cart_key(shop.url16("/cart"), &window));
    EXPECT_EQ(shop.request_count("/cart"), 13);
    EXPECT_EQ(window.questions, 3);
}

TEST_F(CartKey, AnswerShapes) {
    struct Case {
        std::string body;
        bool confirms;
    } cases[] = {
        {"<response><result code=\"0000\"/></response>", true},
        {"<response><result code=\"0\"></result></response>", true},
        {"<response><result code=\"00\"/></response>", false},
        {"<response><result code=\" 0000x\"/></response>", false},
        {"<response><result code=\"0000 \"/></response>", false},
        {"<response><result code=\" 0\"/></response>", false},
        {"<response><x><result code=\"0000\"/></x></response>", false},
        {"<response><Result code=\"0000\"/></response>", true},
        {"<response><RESULT code=\"0\"/></response>", true},
        {"<RESPONSE><result code=\"0000\"/></RESPONSE>", false},
        {"<response><result code=\"0000\"/>", false},
        {"<response/>", false},
        {"<response><result code=\"9\"/><result code=\"0000\"/></response>", true},
        {"<response><result/></response>", false},
        {"<r><response><result code=\"0\"/></response></r>", true},
    };
    for (const auto& c : cases) {
        http_server one;
        one.serve("/cart", reply::text(c.body));
        window.questions = 0;
        EXPECT_EQ(deliver_cart_key(one.url16("/cart"), &window), c.confirms) << c.body;
        EXPECT_EQ(one.request_count("/cart"), c.confirms ? 1 : 11) << c.body;
    }
}

TEST_F(CartKey, EmptyBodyIsAFailureWithoutTheAnswerLines) {
    shop.serve("/cart", reply::text(""));
    EXPECT_FALSE(deliver_cart_key(shop.url16("/cart"), &window));
    EXPECT_FALSE(log.has_line(u">>"));
    shop.serve("/ok", reply::text(kSuccess));
    EXPECT_TRUE(deliver_cart_key(shop.url16("/ok"), &window));
    EXPECT_EQ(log.count_line(u">>"), 1u);
}

TEST_F(CartKey, EmptyAddressSendsNothing) {
    EXPECT_FALSE(deliver_cart_key(u"", &window));
    EXPECT_EQ(window.questions, 0);
    EXPECT_EQ(log.lines(), u"");
}

}  // namespace
