// Reading a plant file: every table and key is known, every value has the
// right type and lies within what the kernel accepts. All mistakes of a file
// are collected, each naming the file, the line and the key, before anything
// is created.
#define TOML_HEADER_ONLY 1
#define TOML_ENABLE_FORMATTERS 0
#include <toml++/toml.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <sstream>

#include "tools/rkctl/duration.h"
#include "tools/rkctl/failure.h"
#include "tools/rkctl/plant.h"
#include "tools/rkctl/plant_check.h"

namespace rkctl {

namespace {

class Reader {
 public:
  explicit Reader(std::string file) : file_(std::move(file)) {}

  void error(const toml::node* at, int fallback_line, const std::string& key, const std::string& what) {
    int line = at != nullptr ? static_cast<int>(at->source().begin.line) : fallback_line;
    errors_.push_back(file_ + ":" + std::to_string(line) + ": " + key + ": " + what);
  }
  std::vector<std::string>& errors() { return errors_; }

  // Refuses every key of the table that is not one of `known`.
  void only_keys(const toml::table& t, const std::string& where, std::initializer_list<const char*> known) {
    for (auto&& [k, v] : t) {
      std::string key(k.str());
      if (std::none_of(known.begin(), known.end(), [&](const char* n) { return key == n; })) {
        error(&v, line_of(t), where + key, "unknown key");
      }
    }
  }

  static int line_of(const toml::node& n) { return static_cast<int>(n.source().begin.line); }

  // A text of 0..max characters (1..max when required) without control characters.
  std::string text(const toml::table& t, const std::string& where, const char* key, size_t max, bool required,
                   bool no_blank = false) {
    const toml::node* n = t.get(key);
    if (n == nullptr) {
      if (required) error(nullptr, line_of(t), where + key, "missing");
      return "";
    }
    const auto* s = n->as_string();
    if (s == nullptr) {
      error(n, 0, where + key, "must be a string");
      return "";
    }
    const std::string& v = s->get();
    if (required && v.empty()) error(n, 0, where + key, "must not be empty");
    if (v.size() > max) error(n, 0, where + key, "longer than " + std::to_string(max) + " characters");
    if (std::any_of(v.begin(), v.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; })) {
      error(n, 0, where + key, "holds a control character");
    }
    if (no_blank && v.find(' ') != std::string::npos) error(n, 0, where + key, "must not contain a blank");
    return v;
  }

  int64_t integer(const toml::table& t, const std::string& where, const char* key, int64_t lo, int64_t hi,
                  int64_t fallback, bool required = false) {
    const toml::node* n = t.get(key);
    if (n == nullptr) {
      if (required) error(nullptr, line_of(t), where + key, "missing");
      return fallback;
    }
    const auto* i = n->as_integer();
    if (i == nullptr) {
      error(n, 0, where + key, "must be an integer");
      return fallback;
    }
    if (i->get() < lo || i->get() > hi) {
      error(n, 0, where + key,
            std::to_string(i->get()) + " out of range " + std::to_string(lo) + ".." + std::to_string(hi));
      return fallback;
    }
    return i->get();
  }

  bool boolean(const toml::table& t, const std::string& where, const char* key, bool fallback) {
    const toml::node* n = t.get(key);
    if (n == nullptr) return fallback;
    if (const auto* b = n->as_boolean()) return b->get();
    error(n, 0, where + key, "must be true or false");
    return fallback;
  }

  // One of the words; `fallback` when the key is absent.
  template <class E>
  E word(const toml::table& t, const std::string& where, const char* key,
         std::initializer_list<std::pair<const char*, E>> words, E fallback, bool required = false) {
    const toml::node* n = t.get(key);
    if (n == nullptr) {
      if (required) error(nullptr, line_of(t), where + key, "missing");
      return fallback;
    }
    std::string all;
    for (auto& [w, e] : words) all += (all.empty() ? "" : ", ") + std::string(w);
    const auto* s = n->as_string();
    if (s != nullptr) {
      for (auto& [w, e] : words) {
        if (s->get() == w) return e;
      }
    }
    error(n, 0, where + key, (s ? "unknown word \"" + s->get() + "\"" : std::string("must be a word")) + " (one of " +
                                 all + ")");
    return fallback;
  }

  // The tables of an array of tables, such as [[type]].
  std::vector<const toml::table*> tables(const toml::table& root, const char* key) {
    std::vector<const toml::table*> out;
    const toml::node* n = root.get(key);
    if (n == nullptr) return out;
    const auto* a = n->as_array();
    if (a == nullptr || !a->is_array_of_tables()) {
      error(n, 0, key, std::string("must be an array of tables ([[") + key + "]])");
      return out;
    }
    for (auto&& e : *a) out.push_back(e.as_table());
    return out;
  }

 private:
  std::string file_;
  std::vector<std::string> errors_;
};

std::string at(const char* table, size_t i) { return std::string(table) + "[" + std::to_string(i) + "]."; }

void read_rtdb(Reader& r, const toml::table& root, Plant& p) {
  const toml::node* n = root.get("rtdb");
  const toml::table* t = n != nullptr ? n->as_table() : nullptr;
  if (t == nullptr) {
    r.error(n, 1, "rtdb", n == nullptr ? "missing table [rtdb]" : "must be a table");
    return;
  }
  r.only_keys(*t, "rtdb.", {"name", "program_dir", "app_dir", "segments", "memories", "world", "stop_timeout"});
  p.name = r.text(*t, "rtdb.", "name", kNameMax, true, true);
  p.program_dir = r.text(*t, "rtdb.", "program_dir", kDirMax, false);
  p.app_dir = r.text(*t, "rtdb.", "app_dir", kDirMax, false);
  p.segments = static_cast<uint32_t>(r.integer(*t, "rtdb.", "segments", 0, kMaxSegments, 16));
  p.memories = static_cast<uint32_t>(r.integer(*t, "rtdb.", "memories", 1, kMaxMemories, 16));
  p.world = r.boolean(*t, "rtdb.", "world", false);
  if (const toml::node* s = t->get("stop_timeout")) {
    const auto* v = s->as_string();
    double secs = v != nullptr ? parse_duration(v->get()) : -1;
    if (secs <= 0 || secs > 600) {
      r.error(s, 0, "rtdb.stop_timeout", "must be a duration such as \"5s\" or \"500ms\", at most 10 min");
    } else {
      p.stop_timeout_s = secs;
    }
  }
}

void read_domains(Reader& r, const toml::table& root, Plant& p) {
  size_t i = 0;
  for (const toml::table* t : r.tables(root, "domain")) {
    const std::string w = at("domain", i++);
    r.only_keys(*t, w, {"name", "text", "instances"});
    PlantDomain d;
    d.line = Reader::line_of(*t);
    d.name = r.text(*t, w, "name", kNameMax, true, true);
    d.text = r.text(*t, w, "text", kNameMax, false);
    d.instances = static_cast<uint32_t>(r.integer(*t, w, "instances", 1, kMaxApps, 1));
    p.domains.push_back(d);
  }
}

void read_types(Reader& r, const toml::table& root, Plant& p) {
  size_t i = 0;
  for (const toml::table* t : r.tables(root, "type")) {
    const std::string w = at("type", i++);
    r.only_keys(*t, w, {"name", "kind", "count", "size", "class", "per_app"});
    PlantType ty;
    ty.line = Reader::line_of(*t);
    ty.name = r.text(*t, w, "name", kTypeNameMax, true);
    ty.kind = r.word<Kind>(*t, w, "kind",
                           {{"bytes", Kind::bytes}, {"digital", Kind::digital}, {"string", Kind::string},
                            {"mailbox", Kind::mailbox}},
                           Kind::bytes, true);
    ty.count = static_cast<uint16_t>(r.integer(*t, w, "count", 1, 65535, 1, true));
    const toml::node* size = t->get("size");
    switch (ty.kind) {
      case Kind::bytes:
        ty.size = static_cast<uint16_t>(r.integer(*t, w, "size", 2, 65534, 2, true));
        if (ty.size % 2 != 0) r.error(size, 0, w + "size", "must be even for kind bytes");
        break;
      case Kind::string:
        ty.size = static_cast<uint16_t>(r.integer(*t, w, "size", 1, 65535, 64));
        break;
      case Kind::digital:
      case Kind::mailbox:
        if (size != nullptr) r.error(size, 0, w + "size", std::string("not taken by kind ") + kind_word(ty.kind));
        ty.size = table_usiz(ty.kind, 0);
        break;
    }
    ty.type_class = r.word<TypeClass>(*t, w, "class",
                                      {{"digital", TypeClass::digital}, {"int16", TypeClass::int16},
                                       {"double", TypeClass::real}, {"string", TypeClass::text},
                                       {"int32", TypeClass::int32}, {"raw", TypeClass::raw}},
                                      default_class(ty.kind, ty.size));
    ty.per_app = r.boolean(*t, w, "per_app", false);
    if (const toml::node* c = t->get("class"); c != nullptr && !class_fits(ty.kind, ty.size, ty.type_class)) {
      r.error(c, 0, w + "class", std::string("class ") + class_word(ty.type_class) + " does not fit kind " +
                                     kind_word(ty.kind) + " of " + std::to_string(ty.size) + " bytes");
    }
    p.types.push_back(ty);
  }
}

// A command as a list of words, or as one line that the shell runs as
// `/bin/sh -c LINE` does: assignments, builtins, `;` and `&&` included.
void read_command(Reader& r, const toml::table& t, const std::string& w, PlantClient& c) {
  const toml::node* n = t.get("command");
  if (n == nullptr) return;
  c.command_line = Reader::line_of(*n);
  if (const auto* s = n->as_string()) {
    if (s->get().find_first_not_of(" \t") == std::string::npos) {
      r.error(n, 0, w + "command", s->get().empty() ? "must not be empty" : "must not be blank");
      return;
    }
    c.command = {"/bin/sh", "-c", s->get()};
    c.command_text = s->get();
    c.shell = true;
  } else if (const auto* a = n->as_array()) {
    for (auto&& e : *a) {
      if (const auto* word = e.as_string()) {
        c.command.push_back(word->get());
        c.command_text += (c.command_text.empty() ? "" : " ") + word->get();
      } else {
        r.error(&e, 0, w + "command", "every word must be a string");
      }
    }
    if (c.command.empty()) {
      r.error(n, 0, w + "command", "must not be empty");
    } else if (c.command[0].find_first_not_of(" \t") == std::string::npos) {
      r.error(n, 0, w + "command", "the program's name must not be empty or blank");
      c.command.clear();
    }
  } else {
    r.error(n, 0, w + "command", "must be a string or an array of strings");
  }
  if (c.command_text.size() > kCmdlineMax) {
    r.error(n, 0, w + "command", "longer than " + std::to_string(kCmdlineMax) + " characters");
  }
}

void read_instances(Reader& r, const toml::table& root, Plant& p) {
  size_t i = 0;
  for (const toml::table* t : r.tables(root, "instance")) {
    const std::string w = at("instance", i++);
    r.only_keys(*t, w, {"domain", "name", "client"});
    PlantInstance in;
    in.line = Reader::line_of(*t);
    in.domain = r.text(*t, w, "domain", kNameMax, true, true);
    in.name = r.text(*t, w, "name", kNameMax, true, true);
    size_t j = 0;
    for (const toml::table* ct : r.tables(*t, "client")) {
      const std::string cw = w + "client[" + std::to_string(j++) + "].";
      r.only_keys(*ct, cw, {"task", "desc", "priority", "command", "restart"});
      PlantClient c;
      c.line = Reader::line_of(*ct);
      c.task = r.text(*ct, cw, "task", kTaskMax, true);
      if (!c.task.empty() && c.task[0] == '#') r.error(ct->get("task"), 0, cw + "task", "must not start with #");
      c.desc = r.text(*ct, cw, "desc", kDescMax, false);
      c.priority = static_cast<uint16_t>(r.integer(*ct, cw, "priority", 0, 65535, 0));
      read_command(r, *ct, cw, c);
      c.restart = r.word<Restart>(*ct, cw, "restart",
                                  {{"never", Restart::never}, {"on-failure", Restart::on_failure},
                                   {"always", Restart::always}},
                                  Restart::never);
      if (c.command.empty() && ct->get("restart") != nullptr) {
        r.error(ct->get("restart"), 0, cw + "restart", "a slot without command has nothing to restart");
      }
      in.clients.push_back(c);
    }
    p.instances.push_back(in);
  }
}

}  // namespace

Plant load_plant(const std::string& path) {
  Reader r(path);
  toml::table root;
  try {
    root = toml::parse_file(path);
  } catch (const toml::parse_error& e) {
    std::ostringstream out;
    out << path << ":" << e.source().begin.line << ": " << e.description();
    throw Failure(out.str());
  }
  Plant p;
  p.file = path;
  r.only_keys(root, "", {"rtdb", "domain", "type", "instance"});
  read_rtdb(r, root, p);
  read_domains(r, root, p);
  read_types(r, root, p);
  read_instances(r, root, p);
  check_plant(p, r.errors());
  if (!r.errors().empty()) {
    std::string all;
    for (const std::string& e : r.errors()) all += (all.empty() ? "" : "\n") + e;
    throw Failure(all);
  }
  return p;
}

}  // namespace rkctl
