#pragma once

#include <QString>
#include <curl/curl.h>

// The few functions of the transfer library the downloads use. The library (libcurl and its
// thirty-odd dependencies) is loaded on the first download of the run, not at start-up: only
// the about window downloads anything. <curl/curl.h> is used for types and constants only.
struct CurlLibrary {
    decltype(&curl_global_init) globalInit = nullptr;
    decltype(&curl_easy_init) easyInit = nullptr;
    decltype(&curl_easy_setopt) easySetopt = nullptr;
    decltype(&curl_easy_perform) easyPerform = nullptr;
    decltype(&curl_easy_getinfo) easyGetinfo = nullptr;
    decltype(&curl_easy_cleanup) easyCleanup = nullptr;
};

// The loaded and initialised library. On the first call it is loaded and looked up; the outcome
// holds for the rest of the run. Raises ELoadLibraryError ("Unable to load libcurl.so.4") when
// it cannot be loaded, lacks a function or fails to initialise. GUI thread only.
const CurlLibrary& RequireCurlLibrary();

// Tests: the file name to load instead of libcurl.so.4; only before the first download.
void SetCurlLibraryFileName(const QString& fileName);
