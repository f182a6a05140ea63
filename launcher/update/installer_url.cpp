#include "update/installer_url.h"

#include <algorithm>
#include <cwchar>

namespace {

constexpr wchar_t kSchemeEnd[] = L"://";

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix)
{
    size_t i = 0;
    for (; prefix[i]; ++i) {
        // The prefixes are lower-case ASCII.
        const wchar_t c = text.size() > i ? text[i] : L'\0';
        if ((c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c) != prefix[i])
            return false;
    }
    return true;
}

bool IsControl(wchar_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool IsHostCharacter(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
           c == L'.' || c == L'-' || c == L'_';
}

// The authority of a URL ends at the path, the query or the fragment.
size_t AuthorityEnd(const std::wstring& url, size_t start)
{
    const size_t end = url.find_first_of(L"/?#", start);
    return end == std::wstring::npos ? url.size() : end;
}

// A host name or an IPv4 address, or an IPv6 address in brackets, then an optional port.
bool IsHostAndPort(const std::wstring& authority)
{
    size_t i = 0;
    if (!authority.empty() && authority[0] == L'[') {
        const size_t close = authority.find(L']');
        if (close == std::wstring::npos || close == 1 ||
            authority.find_first_not_of(L"0123456789abcdefABCDEF:.", 1) != close)
            return false;
        i = close + 1;
    } else {
        while (i < authority.size() && IsHostCharacter(authority[i]))
            ++i;
        if (i == 0)
            return false;
    }
    if (i == authority.size())
        return true;
    return authority[i] == L':' && i + 1 < authority.size() &&
           authority.find_first_not_of(L"0123456789", i + 1) == std::wstring::npos;
}

}  // namespace

bool IsHttpsUrl(const std::wstring& url)
{
    return StartsWithNoCase(url, L"https://");
}

const wchar_t* InstallerUrlProblem(const std::wstring& url, bool httpsOnly)
{
    if (std::any_of(url.begin(), url.end(), IsControl))
        return L"control character";
    const bool https = IsHttpsUrl(url);
    if (!https && !StartsWithNoCase(url, L"http://"))
        return L"not an http:// or https:// address";
    const size_t start = url.find(kSchemeEnd) + 3;
    const std::wstring authority = url.substr(start, AuthorityEnd(url, start) - start);
    if (authority.find(L'@') != std::wstring::npos)
        return L"user info";
    if (!IsHostAndPort(authority))
        return L"no host";
    if (httpsOnly && !https)
        return L"http:// after an https:// check";
    return nullptr;
}

std::wstring HideUserInfo(const std::wstring& text)
{
    std::wstring result;
    size_t done = 0;
    for (size_t mark = text.find(kSchemeEnd); mark != std::wstring::npos;
         mark = text.find(kSchemeEnd, done)) {
        const size_t start = mark + 3;
        // In a reply the address ends at the next tag, blank or line end as well.
        size_t end = start;
        while (end < text.size() && !std::wcschr(L"/?#<> \t\r\n", text[end]))
            ++end;
        const size_t at = text.rfind(L'@', end == start ? start : end - 1);
        result.append(text, done, start - done);
        if (at != std::wstring::npos && at >= start && at < end) {
            result += L"***";
            done = at;
        } else {
            done = start;
        }
    }
    return result.append(text, done, std::wstring::npos);
}
