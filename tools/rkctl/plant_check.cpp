#include "tools/rkctl/plant_check.h"

#include <strings.h>

#include <map>

namespace rkctl {

uint16_t table_usiz(Kind kind, uint16_t size) {
  switch (kind) {
    case Kind::bytes: return size;
    case Kind::digital: return 2;
    case Kind::string: return 8;    // a 32-bit string descriptor
    case Kind::mailbox: return 22;  // a 32-bit message record
  }
  return 0;
}

const char* kind_word(Kind kind) {
  switch (kind) {
    case Kind::bytes: return "bytes";
    case Kind::digital: return "digital";
    case Kind::string: return "string";
    case Kind::mailbox: return "mailbox";
  }
  return "?";
}

const char* class_word(TypeClass c) {
  switch (c) {
    case TypeClass::digital: return "digital";
    case TypeClass::int16: return "int16";
    case TypeClass::real: return "double";
    case TypeClass::text: return "string";
    case TypeClass::int32: return "int32";
    case TypeClass::raw: return "raw";
  }
  return "raw";
}

const char* restart_word(Restart r) {
  switch (r) {
    case Restart::never: return "never";
    case Restart::on_failure: return "on-failure";
    case Restart::always: return "always";
  }
  return "never";
}

TypeClass default_class(Kind kind, uint16_t size) {
  switch (kind) {
    case Kind::digital: return TypeClass::digital;
    case Kind::string: return TypeClass::text;
    case Kind::mailbox: return TypeClass::raw;
    case Kind::bytes:
      return size == 2 ? TypeClass::int16 : size == 4 ? TypeClass::int32 : size == 8 ? TypeClass::real : TypeClass::raw;
  }
  return TypeClass::raw;
}

bool class_fits(Kind kind, uint16_t size, TypeClass c) {
  if (c == TypeClass::raw) return kind == Kind::bytes || kind == Kind::mailbox;
  return default_class(kind, size) == c;
}

namespace {

struct NoCase {
  bool operator()(const std::string& a, const std::string& b) const { return strcasecmp(a.c_str(), b.c_str()) < 0; }
};

std::string where(const Plant& p, int line, const std::string& key) {
  return p.file + ":" + std::to_string(line) + ": " + key + ": ";
}

}  // namespace

void check_plant(const Plant& p, std::vector<std::string>& errors) {
  auto fail = [&](int line, const std::string& key, const std::string& what) {
    errors.push_back(where(p, line, key) + what);
  };

  std::map<std::string, const PlantDomain*, NoCase> domains;
  uint32_t apps = 0;
  for (size_t i = 0; i < p.domains.size(); ++i) {
    const PlantDomain& d = p.domains[i];
    const std::string key = "domain[" + std::to_string(i) + "].name";
    if (!d.name.empty() && !domains.emplace(d.name, &d).second) fail(d.line, key, "duplicate domain \"" + d.name + "\"");
    apps += d.instances;
  }
  if (p.domains.empty()) fail(1, "domain", "a plant needs at least one [[domain]]");
  if (apps > kMaxApps) {
    fail(p.domains.back().line, "domain", "the domains have " + std::to_string(apps) + " instances in all; at most " +
                                              std::to_string(kMaxApps));
  }

  std::map<std::string, int, NoCase> types;
  for (size_t i = 0; i < p.types.size(); ++i) {
    const PlantType& t = p.types[i];
    if (!t.name.empty() && !types.emplace(t.name, t.line).second) {
      fail(t.line, "type[" + std::to_string(i) + "].name", "duplicate type \"" + t.name + "\"");
    }
  }
  if (p.types.size() > kMaxTypes) {
    fail(p.types[kMaxTypes].line, "type", "more than " + std::to_string(kMaxTypes) + " types");
  }

  std::map<std::string, uint32_t, NoCase> started;
  std::map<std::string, int, NoCase> instance_names;
  for (size_t i = 0; i < p.instances.size(); ++i) {
    const PlantInstance& in = p.instances[i];
    const std::string w = "instance[" + std::to_string(i) + "].";
    auto d = domains.find(in.domain);
    if (!in.domain.empty() && d == domains.end()) {
      fail(in.line, w + "domain", "unknown domain \"" + in.domain + "\"");
    } else if (d != domains.end() && ++started[in.domain] > d->second->instances) {
      fail(in.line, w + "domain", "domain \"" + in.domain + "\" has only " + std::to_string(d->second->instances) +
                                      " instance(s)");
    }
    if (!in.name.empty() && !instance_names.emplace(in.domain + "/" + in.name, in.line).second) {
      fail(in.line, w + "name", "duplicate instance \"" + in.domain + "/" + in.name + "\"");
    }
    if (in.clients.size() > kClientSlots) {
      fail(in.clients[kClientSlots].line, w + "client",
           "more than " + std::to_string(kClientSlots) + " clients in one instance");
    }
    std::map<std::string, int, NoCase> tasks{{"RKCTL", 0}};
    for (size_t j = 0; j < in.clients.size(); ++j) {
      const PlantClient& c = in.clients[j];
      if (!c.task.empty() && !tasks.emplace(c.task, c.line).second) {
        fail(c.line, w + "client[" + std::to_string(j) + "].task",
             "duplicate task \"" + c.task + "\" in instance " + in.domain + "/" + in.name);
      }
    }
  }
  if (p.instances.empty()) fail(1, "instance", "a plant needs at least one [[instance]]");
}

}  // namespace rkctl
