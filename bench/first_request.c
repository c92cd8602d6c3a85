/* The start-up reference: a program that does nothing but the launcher's first request
 * (one GET through libcurl) and exits. */
#include <curl/curl.h>
#include <stdio.h>

static size_t discard(char* data, size_t size, size_t count, void* user) {
    (void)data;
    (void)user;
    return size * count;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s URL\n", argv[0]);
        return 2;
    }
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return 1;
    CURL* easy = curl_easy_init();
    if (!easy) return 1;
    curl_easy_setopt(easy, CURLOPT_URL, argv[1]);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, discard);
    const CURLcode rc = curl_easy_perform(easy);
    curl_easy_cleanup(easy);
    curl_global_cleanup();
    return rc == CURLE_OK ? 0 : 1;
}
