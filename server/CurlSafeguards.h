// The transfer settings that keep a request to the update server safe and bounded.
#pragma once

#include <curl/curl.h>

// Applies them to a fresh easy handle; returns the first failing libcurl code, else CURLE_OK.
CURLcode ApplyCurlSafeguards(CURL* curl);
