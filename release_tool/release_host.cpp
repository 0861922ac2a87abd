#include "release_host.h"

namespace {

bool EndsWithLabel(std::wstring_view name, std::wstring_view suffix) {
    if (name == suffix) {
        return true;
    }
    return name.size() > suffix.size() && name.substr(name.size() - suffix.size()) == suffix &&
           name[name.size() - suffix.size() - 1] == L'.';
}

}  // namespace

WideString ReleaseHostProblem(std::wstring_view host) {
    // The name without a port and without a trailing dot, in lower case (ASCII: host names are).
    WideString name(host);
    const std::size_t colon = name.find_last_of(L':');
    if (colon != WideString::npos && name.find_first_not_of(L"0123456789", colon + 1) == WideString::npos) {
        name.resize(colon);
    }
    if (!name.empty() && name.back() == L'.') {
        name.pop_back();
    }
    for (wchar_t& c : name) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    if (name.empty()) {
        return L"is empty";
    }
    for (const wchar_t* tld : {L"example", L"test", L"invalid"}) {
        if (EndsWithLabel(name, tld)) {
            return L"is under ." + WideString(tld) + L", a name reserved for examples and tests that never resolves";
        }
    }
    for (const wchar_t* domain : {L"example.com", L"example.net", L"example.org"}) {
        if (EndsWithLabel(name, domain)) {
            return L"is under a domain reserved for documentation";
        }
    }
    if (EndsWithLabel(name, L"localhost") || name.rfind(L"127.", 0) == 0) {
        return L"is this machine, not a server that users can reach";
    }
    return L"";
}

WideString UnpublishableHostWarning(std::wstring_view host) {
    const WideString problem = ReleaseHostProblem(host);
    if (problem.empty()) {
        return L"";
    }
    const WideString named = host.empty() ? WideString(L"RELEASE_HOST") : L"RELEASE_HOST " + WideString(host);
    return L"WARNING: this tool and its web setup were built for " + named + L", which " +
           problem + L": that web setup fails on every user's machine. Build with -DRELEASE_HOST=<the release "
           L"server's host name>, then sign and make the release again with that build.";
}

WideString UnpublishableHostVerdict(std::wstring_view host) {
    if (ReleaseHostProblem(host).empty()) {
        return L"";
    }
    const WideString named = host.empty() ? WideString(L"RELEASE_HOST") : L"RELEASE_HOST " + WideString(host);
    return L", but do not publish: this tool was built for " + named + L", which users cannot reach";
}
