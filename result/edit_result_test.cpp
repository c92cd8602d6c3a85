#include "result/edit_result.h"

#include <gtest/gtest.h>

#include "tests/support/test_log.h"
#include "text/text.h"

namespace {

const std::u16string kArguments = u"key=K1&svr=http%3A%2F%2Fshop.example%2Fsvc%2F";
// http://shop.example/svc?key=K1&field=result, component-encoded
const std::u16string kResultService = u"http%3A%2F%2Fshop.example%2Fsvc%3Fkey%3DK1%26field%3Dresult";

struct EditResult : ::testing::Test {
    test_support::log_capture log;
    startup_file_xml startup;
    std::u16string return_url, cart_url;
    void SetUp() override {
        startup.return_url = u"http://shop.example/return/";
        startup.return2_url = u"http://shop.example/cart?mode=1";
    }
    bool process(const std::u16string& json) {
        return process_edit_result(return_url, kArguments, startup, json, cart_url);
    }
};

TEST_F(EditResult, ComposesBothAddressesWithExitCodeAndResultService) {
    ASSERT_TRUE(process(u"{\"exit_code\":\"1\",\"uploaded_list\":[\"a\"]}"));
    EXPECT_EQ(return_url, u"http://shop.example/return?exit_code=1&keyresult=" + kResultService);
    EXPECT_EQ(cart_url, u"http://shop.example/cart?mode=1&exit_code=1&keyresult=" + kResultService);
}

TEST_F(EditResult, MissingExitCodeIsZeroAndExitCodeIsNotEncoded) {
    ASSERT_TRUE(process(u"{\"uploaded_list\":{\"a\":1}}"));
    EXPECT_EQ(return_url, u"http://shop.example/return?exit_code=0&keyresult=" + kResultService);
    ASSERT_TRUE(process(u"// comment\n{\"exit_code\":\"a b&c\",\"uploaded_list\":[1]}"));
    EXPECT_EQ(return_url, u"http://shop.example/return?exit_code=a b&c&keyresult=" + kResultService);
}

TEST_F(EditResult, ReturnAddressIsPercentEncodedButKeepsItsStructure) {
    startup.return_url = u"http://shop.example/주문 page?a=1&b=x y";
    ASSERT_TRUE(process(u"{\"uploaded_list\":[1]}"));
    EXPECT_EQ(return_url, u"http://shop.example/%EC%A3%BC%EB%AC%B8%20page?a=1&b=x%20y&exit_code=0&keyresult=" +
                              kResultService);
}

TEST_F(EditResult, EmptyReturnAddressesStayEmpty) {
    startup.return2_url.clear();
    ASSERT_TRUE(process(u"{\"uploaded_list\":[1]}"));
    EXPECT_FALSE(return_url.empty());
    EXPECT_TRUE(cart_url.empty());
    startup.return2_url = u"http://c/";
    startup.return_url.clear();
    return_url.clear();
    ASSERT_TRUE(process(u"{\"uploaded_list\":[1]}"));
    EXPECT_TRUE(return_url.empty());
    EXPECT_EQ(cart_url, u"http://c?exit_code=0&keyresult=" + kResultService);
}

TEST_F(EditResult, DocumentsThatEndTheProcessing) {
    struct Case {
        std::u16string json;
        std::u16string line;
    } cases[] = {
        {u"", u"*오류 : 편집 결과에 JSON정보가 없습니다."},
        {u"{not json", u"*오류 : 편집 결과 JSON파싱에 실패 했습니다. (json:{not json)"},
        {u"{\"uploaded_list\":[1,],}", u"*오류 : 편집 결과 JSON파싱에 실패 했습니다. (json:{\"uploaded_list\":[1,],})"},
        {u"\uFEFF{\"uploaded_list\":[1]}", u"*오류 : 편집 결과 JSON파싱에 실패 했습니다. (json:\uFEFF{\"uploaded_list\":[1]})"},
        {u"{\"exit_code\":\"0\"}", u"*알림 : 편집결과 JSON정보에 업로드 목록이 없습니다."},
        {u"{\"uploaded_list\":[]}", u"*알림 : 편집결과 JSON정보에 업로드 목록이 없습니다."},
        {u"{\"uploaded_list\":{}}", u"*알림 : 편집결과 JSON정보에 업로드 목록이 없습니다."},
        {u"{\"uploaded_list\":\"abc\"}", u"*알림 : 편집결과 JSON정보에 업로드 목록이 없습니다."},
        {u"null", u"*알림 : 편집결과 JSON정보에 업로드 목록이 없습니다."},
        {u"{\"uploaded_list\":[1],\"off_return_url\":true}", u"*알림 : 편집결과 JSON정보에 장바구니 호출을 하지 않도록 설정했습니다."},
        {u"{\"uploaded_list\":[1],\"off_return_url\":1}", u"*알림 : 편집결과 JSON정보에 장바구니 호출을 하지 않도록 설정했습니다."},
        {u"[1,2]", u"*오류 : 편집 결과 JSON의 최상위 값이 객체가 아닙니다. (json:[1,2])"},
        {u"\"text\"", u"*오류 : 편집 결과 JSON의 최상위 값이 객체가 아닙니다. (json:\"text\")"},
        {u"{\"exit_code\":5,\"uploaded_list\":[1]}", u"*오류 : 편집 결과 JSON의 exit_code 값이 문자열이 아닙니다. (json:{\"exit_code\":5,\"uploaded_list\":[1]})"},
        {u"{\"exit_code\":null,\"uploaded_list\":[1]}", u"*오류 : 편집 결과 JSON의 exit_code 값이 문자열이 아닙니다. (json:{\"exit_code\":null,\"uploaded_list\":[1]})"},
        {u"{\"uploaded_list\":[1],\"off_return_url\":\"yes\"}", u"*오류 : 편집 결과 JSON의 off_return_url 값이 올바르지 않습니다. (json:{\"uploaded_list\":[1],\"off_return_url\":\"yes\"})"},
        {u"{\"uploaded_list\":[1],\"off_return_url\":[]}", u"*오류 : 편집 결과 JSON의 off_return_url 값이 올바르지 않습니다. (json:{\"uploaded_list\":[1],\"off_return_url\":[]})"},
    };
    for (const auto& c : cases) {
        return_url.clear();
        cart_url.clear();
        EXPECT_FALSE(process(c.json)) << to_utf8(c.json);
        EXPECT_TRUE(log.has_line(c.line)) << to_utf8(c.json) << "\n" << log.lines_utf8();
        EXPECT_TRUE(return_url.empty() && cart_url.empty()) << to_utf8(c.json);
    }
}

TEST_F(EditResult, OffReturnUrlFalseZeroOrNullGoesOn) {
    for (const char16_t* value : {u"false", u"0", u"null", u"0.0"}) {
        EXPECT_TRUE(process(u"{\"uploaded_list\":[1],\"off_return_url\":" + std::u16string(value) + u"}"))
            << to_utf8(value);
    }
}

}  // namespace
