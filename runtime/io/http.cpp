// The HTTP client over libcurl: one synchronous request per call on a kept handle (so
// connections are reused), the request headers and body, and the response values.
#include "runtime/io/http.h"

#include <curl/curl.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>
#include <string>
#include <utility>
#include <vector>

#include "runtime/cell_api.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/io_handover.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/evaluator/actions.h"
#include "runtime/gc.h"
#include "runtime/io/dynlib.h"
#include "runtime/io/simple_io.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"

namespace kel {

namespace {

// Responses past this size fail (they could not become one series).
constexpr size_t MAX_BODY = 0x7FFFFF00;

struct Transfer {
  std::string body;
  std::string headers;  // the lines of the last response only
  bool too_big = false;
  bool no_memory = false;
};

size_t on_body(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t n = size * count;
  if (t->body.size() + n > MAX_BODY) {
    t->too_big = true;
    return 0;  // ends the transfer as a failure
  }
  // A body the process cannot hold ends the transfer too (an error, never a process exit).
  try {
    t->body.append(data, n);
  } catch (const std::bad_alloc&) {
    t->no_memory = true;
    return 0;
  }
  return n;
}

size_t on_header(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t n = size * count;
  // A status line opens a new response (a redirect's target, a final answer after 100).
  if (n >= 5 && std::string_view(data, 5) == "HTTP/") {
    t->headers.clear();
    return n;
  }
  if (t->headers.size() + n > MAX_BODY) return 0;
  t->headers.append(data, n);
  return n;
}

CURL* g_handle = nullptr;

bool ascii_equal_nocase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i]))) return false;
  return true;
}

// The characters of an HTTP token: visible ASCII but the delimiters.
bool token_q(const std::string& name) {
  for (char ch : name) {
    uint8_t c = uint8_t(ch);
    if (c <= 0x20 || c >= 0x7F || std::strchr("\"(),/:;<=>?@[\\]{}", c)) return false;
  }
  return !name.empty();
}

bool any_word_q(uint32_t t) {
  return t == T_WORD || t == T_SET_WORD || t == T_LIT_WORD || t == T_GET_WORD;
}

// The value as UTF-8 text: strings as they are, words by their spelling, anything else
// formed (or molded when asked).
std::string text_of(const Cell* value, bool mold_others) {
  Cell v = *value;
  gc::Root keep(&v);
  uint32_t t = cell::type(&v);
  if (any_word_q(t)) return symbol::text(int32_t(v.w2));
  if (t == T_STRING) return simple_io::utf8_text(&v);
  Cell* mark = stack::state().top;
  Cell* s = mold_others ? actions::mold(&v, false, false, false, nullptr)
                        : actions::form(&v, nullptr);
  std::string out = simple_io::utf8_text(s);
  stack::state().top = mark;
  return out;
}

// The method sent: the word's canonical spelling (or the name given) in upper case, so get,
// head and post send GET, HEAD and POST, and any other word its own spelling (put: PUT).
std::string method_text(io::HttpMethod method) {
  std::string m = method.name ? method.name : "";
  if (method.word) m = symbol::text(symbol::canonical_id(int32_t(method.word->w2)));
  for (char& c : m) c = char(std::toupper(uint8_t(c)));
  return m;
}

// The loopback addresses are never sent through a proxy, whatever the environment says.
std::string no_proxy_list() {
  std::string list;
  const char* env = std::getenv("no_proxy");
  if (!env || !*env) env = std::getenv("NO_PROXY");
  if (env && *env) {
    list = env;
    if (list == "*") return list;
    list += ",";
  }
  return list + "localhost,127.0.0.0/8,::1";
}

bool https_q(const std::string& url) {
  return url.size() >= 8 && ascii_equal_nocase(url.substr(0, 8), "https://");
}

}  // namespace

namespace {

// libcurl is loaded at the first request, not linked: with the thirty-odd libraries it
// pulls in, loading it took about half of every start-up. Null when it cannot be loaded.
struct CurlApi {
  decltype(&::curl_global_init) global_init;
  decltype(&::curl_easy_init) easy_init;
  decltype(&::curl_easy_reset) easy_reset;
  decltype(&::curl_easy_setopt) easy_setopt;
  decltype(&::curl_easy_perform) easy_perform;
  decltype(&::curl_easy_getinfo) easy_getinfo;
  decltype(&::curl_slist_append) slist_append;
  decltype(&::curl_slist_free_all) slist_free_all;
};

const CurlApi* curl_api() {
  static CurlApi api;
  static int state = 0;  // 0 not tried, 1 loaded, -1 unavailable
  if (state) return state > 0 ? &api : nullptr;
  state = -1;
  dynlib::Binder load("libcurl.so.4");
  load(api.global_init, "curl_global_init");
  load(api.easy_init, "curl_easy_init");
  load(api.easy_reset, "curl_easy_reset");
  load(api.easy_setopt, "curl_easy_setopt");
  load(api.easy_perform, "curl_easy_perform");
  load(api.easy_getinfo, "curl_easy_getinfo");
  load(api.slist_append, "curl_slist_append");
  load(api.slist_free_all, "curl_slist_free_all");
  if (!load.ok() || api.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return nullptr;
  state = 1;
  return &api;
}

}  // namespace

namespace simple_io {

void http_init() {
  // Nothing at start-up: libcurl is loaded and initialised by the first request.
}

HeaderFields header_fields(const uint8_t* text, size_t n) {
  HeaderFields fields;
  std::unordered_map<std::string, size_t> index;
  size_t start = 0;
  while (start < n) {
    size_t end = start;
    while (end < n && text[end] != '\n') ++end;
    size_t stop = end > start && text[end - 1] == '\r' ? end - 1 : end;
    std::string line(reinterpret_cast<const char*>(text + start), stop - start);
    start = end + 1;
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) continue;
    std::string name = line.substr(0, colon);
    if (!token_q(name)) continue;  // a name becomes a word: only HTTP token characters
    size_t a = colon + 1, b = line.size();
    while (a < b && (line[a] == ' ' || line[a] == '\t')) ++a;
    while (b > a && (line[b - 1] == ' ' || line[b - 1] == '\t')) --b;
    std::string value = line.substr(a, b - a);
    std::string key;
    for (char c : name) key.push_back(char(std::tolower(uint8_t(c))));
    auto [at, added] = index.emplace(key, fields.size());
    if (added) fields.push_back({std::move(name), {}});
    fields[at->second].second.push_back(std::move(value));
  }
  return fields;
}

Cell* parse_headers(const uint8_t* text, size_t n) {
  HeaderFields fields = header_fields(text, n);
  Cell* map = stack::reserve_cell();
  cell::set_none(map);
  map::init_cell(map, nullptr, 20);
  for (auto& [name, values] : fields) {
    Cell* mark = stack::state().top;
    Cell key = word::intern_global(name.c_str());
    key.header = T_WORD;
    Cell* k = stack::push_copy(&key);
    Cell* v;
    if (values.size() == 1) {
      v = push_utf8_string(reinterpret_cast<const uint8_t*>(values[0].data()),
                           int64_t(values[0].size()));
    } else {
      v = block::push_empty(int32_t(values.size()));
      for (auto& text : values) {
        Cell* s = push_utf8_string(reinterpret_cast<const uint8_t*>(text.data()),
                                   int64_t(text.size()));
        block::append_copy(v, s);
        stack::state().top = s;
      }
    }
    map::put(map, k, v, false);
    stack::state().top = mark;
  }
  return map;
}

}  // namespace simple_io

namespace io {

Cell* http_request(HttpMethod method, Cell* url, Cell* headers, Cell* data, bool binary,
                   bool lines, bool info) {
  // Everything the transfer needs is taken out as C++ text first: no Kel value is made or
  // read while curl runs.
  std::string target = text_of(url, false);
  // A URL or header ends at a NUL, CR or LF on the wire: such text would send another request.
  if (target.find_first_of(std::string("\0\r\n", 3)) != std::string::npos)
    error::raise(err::script::invalid_arg, url);
  std::string verb = method_text(method);
  bool no_body = verb == "GET" || verb == "HEAD";
  bool has_body = data && !no_body;
  std::string body;
  if (has_body) {
    if (cell::type(data) == T_BINARY) {
      body.assign(reinterpret_cast<const char*>(binary::head_byte_pointer(data)),
                  size_t(binary::byte_count(data)));
    } else {
      body = text_of(data, true);
    }
  }
  std::vector<std::string> lines_out;
  if (headers) {
    Cell h = *headers;
    gc::Root keep(&h);
    int32_t n = block::count_from_head(&h);
    for (int32_t i = 0; i + 1 < n; i += 2) {
      Cell name = *block::cell_at_index(&h, int32_t(h.w1) + i);
      Cell value = *block::cell_at_index(&h, int32_t(h.w1) + i + 1);
      gc::Root keep_n(&name), keep_v(&value);
      std::string nt = text_of(&name, false);
      std::string vt = text_of(&value, false);
      if (!token_q(nt)) error::raise(err::script::invalid_arg, &name);
      if (vt.find_first_of(std::string("\0\r\n", 3)) != std::string::npos)
        error::raise(err::script::invalid_arg, &value);
      // An empty value is written "Name;" (curl's form for a header sent empty).
      lines_out.push_back(vt.empty() ? nt + ";" : nt + ": " + vt);
    }
  } else {
    lines_out = {"Content-Type: application/x-www-form-urlencoded", "Accept-Charset: UTF-8",
                 "User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64)"};
  }
  // What curl would add on its own: its Content-Type for bodies and Expect: 100-continue.
  bool has_type = false;
  for (auto& l : lines_out) {
    std::string lower;
    for (char c : l.substr(0, 13)) lower.push_back(char(std::tolower(uint8_t(c))));
    if (lower == "content-type:" || lower == "content-type;") has_type = true;
  }
  if (!has_type) lines_out.push_back("Content-Type:");
  lines_out.push_back("Expect:");

  const CurlApi* api = curl_api();
  if (!api) return nullptr;
  if (!g_handle) g_handle = api->easy_init();
  if (!g_handle) return nullptr;
  CURL* c = g_handle;
  api->easy_reset(c);
  Transfer t;
  curl_slist* list = nullptr;
  for (auto& l : lines_out) list = api->slist_append(list, l.c_str());

  api->easy_setopt(c, CURLOPT_URL, target.c_str());
  api->easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  api->easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, https_q(target) ? "https" : "http,https");
  api->easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  api->easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
  api->easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 60L);
  api->easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  api->easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 30L);
  api->easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  std::string no_proxy = no_proxy_list();
  api->easy_setopt(c, CURLOPT_NOPROXY, no_proxy.c_str());
  const char* ca = std::getenv("SSL_CERT_FILE");
  if (ca && *ca) api->easy_setopt(c, CURLOPT_CAINFO, ca);
  api->easy_setopt(c, CURLOPT_HTTPHEADER, list);
  api->easy_setopt(c, CURLOPT_WRITEFUNCTION, on_body);
  api->easy_setopt(c, CURLOPT_WRITEDATA, &t);
  api->easy_setopt(c, CURLOPT_HEADERFUNCTION, on_header);
  api->easy_setopt(c, CURLOPT_HEADERDATA, &t);
  if (verb == "GET") {
    api->easy_setopt(c, CURLOPT_HTTPGET, 1L);
  } else if (verb == "HEAD") {
    api->easy_setopt(c, CURLOPT_NOBODY, 1L);  // else curl waits for a body that never comes
  } else {
    if (verb == "POST" || has_body) {
      api->easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
      api->easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
    }
    if (verb != "POST") api->easy_setopt(c, CURLOPT_CUSTOMREQUEST, verb.c_str());
  }
  CURLcode rc = api->easy_perform(c);
  long status = 0;
  if (rc == CURLE_OK) api->easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  api->easy_setopt(c, CURLOPT_HTTPHEADER, nullptr);
  api->slist_free_all(list);
  if (t.too_big) error::raise(err::script::too_long);
  if (t.no_memory) error::raise(err::internal::no_memory);
  if (rc != CURLE_OK) return nullptr;

  Cell* result = nullptr;
  if (info) {
    result = block::push_empty(3);
    Cell st{T_INTEGER, 0, uint32_t(int32_t(status)), 0};
    block::append_copy(result, &st);
    Cell* mark = stack::state().top;
    Cell* m = simple_io::parse_headers(reinterpret_cast<const uint8_t*>(t.headers.data()),
                                       t.headers.size());
    block::append_copy(result, m);
    stack::state().top = mark;
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(t.body.data());
  Cell* mark = stack::state().top;
  Cell* v = binary ? binary::push_new_from_bytes(bytes, int32_t(t.body.size()))
            : lines ? simple_io::lines_to_block(bytes, int64_t(t.body.size()))
                    : simple_io::push_utf8_string(bytes, int64_t(t.body.size()));
  if (!info) return v;
  block::append_copy(result, v);
  stack::state().top = mark;
  return result;
}

}  // namespace io

}  // namespace kel
