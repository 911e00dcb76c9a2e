// Code page conversions through iconv ("CP<N>"); the default code page for
// names is 1252.
#include "vault/format/CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <map>
#include <utility>

namespace vault {
namespace codepage {

namespace {

// One converter per direction and code page, kept for the thread's life:
// a listing converts many names.
class Converters {
public:
    ~Converters() {
        for (auto& kv : m_open)
            if (kv.second != reinterpret_cast<iconv_t>(-1)) iconv_close(kv.second);
    }
    iconv_t Get(unsigned codePage, bool toUtf8) {
        const auto key = std::make_pair(codePage, toUtf8);
        auto it = m_open.find(key);
        if (it == m_open.end()) {
            const std::string cp = "CP" + std::to_string(codePage);
            iconv_t cd = toUtf8 ? iconv_open("UTF-8", cp.c_str()) : iconv_open(cp.c_str(), "UTF-8");
            it = m_open.emplace(key, cd).first;
        }
        if (it->second != reinterpret_cast<iconv_t>(-1)) iconv(it->second, nullptr, nullptr, nullptr, nullptr);
        return it->second;
    }

private:
    std::map<std::pair<unsigned, bool>, iconv_t> m_open;
};

iconv_t Converter(unsigned codePage, bool toUtf8) {
    thread_local Converters converters;
    return converters.Get(codePage, toUtf8);
}

const iconv_t kNone = reinterpret_cast<iconv_t>(-1);

// Converts what it can; *stuck receives the offset of input that did not
// convert (size when all did).
void Run(iconv_t cd, const std::string& in, size_t from, std::string* out, size_t* stuck) {
    char* src = const_cast<char*>(in.data()) + from;
    size_t srcLeft = in.size() - from;
    char buf[1024];
    while (srcLeft > 0) {
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out->append(buf, static_cast<size_t>(dst - buf));
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) break;
    }
    if (srcLeft == 0) {  // flush any shift state
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        iconv(cd, nullptr, nullptr, &dst, &dstLeft);
        out->append(buf, static_cast<size_t>(dst - buf));
    }
    *stuck = in.size() - srcLeft;
}

}  // namespace

unsigned DefaultCodePage() { return 1252; }

bool Supported(unsigned codePage) { return Converter(codePage, true) != kNone && Converter(codePage, false) != kNone; }

bool FromUtf8(unsigned codePage, const std::string& utf8, std::string* bytes) {
    bytes->clear();
    iconv_t cd = Converter(codePage, false);
    if (cd == kNone) return false;
    size_t stuck = 0;
    Run(cd, utf8, 0, bytes, &stuck);
    return stuck == utf8.size();
}

bool ToUtf8(unsigned codePage, const std::string& bytes, std::string* utf8) {
    utf8->clear();
    iconv_t cd = Converter(codePage, true);
    bool exact = true;
    size_t at = 0;
    while (at < bytes.size()) {
        size_t stuck = bytes.size();
        if (cd != kNone) {
            Run(cd, bytes, at, utf8, &stuck);
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        } else {
            stuck = at;
        }
        if (stuck >= bytes.size()) break;
        utf8->append("\xEF\xBF\xBD");  // U+FFFD for the byte that did not convert
        exact = false;
        at = stuck + 1;
    }
    return exact;
}

}  // namespace codepage
}  // namespace vault
