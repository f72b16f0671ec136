#pragma once
// A CDDB client over HTTP (protocol level 6, UTF-8): the "cddb query" and "cddb read"
// commands sent to a server's CGI script through the program's HTTP client
// (platform/HttpClient), directly or through an HTTP proxy.
//
// Contract:
// - One client per lookup. Query and Read block the calling thread (any thread) until the
//   server has answered, the transfer has failed or timed out, or the cancel flag is up.
// - The cancel flag belongs to the caller and must outlive the client; any thread may
//   raise it, and a transfer in progress then ends within about 50 ms with Cancelled.
// - Every text handed back is UTF-8: a reply is decoded by its declared charset, and one
//   that claims none or UTF-8 but is not valid UTF-8 is read as Latin-1, the charset of
//   older records. NUL bytes are dropped.
// - Replies are read up to MaxReplyBytes; a longer reply is cut there.
// - No Qt, no global state.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cd {

struct TCddbSettings {
    std::string server = "gnudb.gnudb.org"; // host, host:port, or a URL base "http://h:p"
    int serverPort = 0;                     // 0: the port of the server text, else 80
    std::string script = "/~cddb/cddb.cgi";
    std::string email;                    // "user@host", sent in the hello
    std::string client = "Vellorine 2.5"; // program name and version, sent in the hello
    bool useProxy = false;                // off: always connect directly
    std::string proxyHost;
    int proxyPort = 80;
    int timeoutMs = 0; // one whole command; 0 = DefaultTimeoutMs
};

// The disc as the query names it: frame offsets count the 2-second lead-in.
struct TCddbDisc {
    std::uint32_t discId = 0;
    std::vector<std::uint32_t> offsets; // one per track
    std::uint32_t seconds = 0;          // lead-out offset / 75
};

struct TCddbMatch {
    std::string category;
    std::string discId; // 8 hex digits as the server wrote it
    std::string title;  // "artist / album"
};

enum class TCddbStatus {
    Ok,
    NoMatch,   // the server answered and knows no such disc (or entry)
    Network,   // no answer: refused, unreachable, timed out, HTTP failure
    Server,    // an answer that is not a usable CDDB reply (error code, HTML, garbage)
    Cancelled, // the cancel flag went up
};

class TCddbClient {
public:
    static constexpr int DefaultTimeoutMs = 20000;
    static constexpr std::size_t MaxReplyBytes = 1 << 20;

    TCddbClient(TCddbSettings settings, const std::atomic<bool>* cancel);

    // "cddb query": exact (200, 210) and inexact (211) matches, in the server's order.
    TCddbStatus Query(const TCddbDisc& disc, std::vector<TCddbMatch>& matches);
    // "cddb read": the xmcd record of one match, its lines joined by "\n".
    TCddbStatus Read(const TCddbMatch& match, std::string& record);

    // The status line of the last reply, or the transfer's error text (for diagnostics).
    const std::string& LastMessage() const { return lastMessage_; }

    // The command line of a query, e.g. "cddb query 7a0b5c03 3 150 18555 23205 441".
    static std::string QueryCommand(const TCddbDisc& disc);
    // Splits a reply into its status code and body lines (up to the "." line);
    // false when the first line does not start with a three-digit code.
    static bool ParseReply(const std::string& reply, int& code, std::string& statusLine,
                           std::vector<std::string>& body);
    // Valid UTF-8 stays as it is; anything else is taken as Latin-1. NULs are dropped.
    static std::string ToUtf8(const std::string& bytes);

private:
    TCddbStatus Command(const std::string& command, std::string& reply);
    // Command, then the reply's status code and body lines; Server when it has no code.
    TCddbStatus CodedCommand(const std::string& command, int& code, std::vector<std::string>& body);
    std::string Url(const std::string& command) const;

    TCddbSettings settings_;
    const std::atomic<bool>* cancel_;
    std::string lastMessage_;
};

} // namespace cd
