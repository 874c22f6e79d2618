// A plant as its file describes it: the RTDB, its domains and types, and the
// application instances with the client programs that run in them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rkctl {

enum class Restart { never, on_failure, always };

struct PlantClient {
  std::string task;                  // slot name, at most 31 characters
  std::string desc;                  // at most 79
  uint16_t priority = 0;
  std::vector<std::string> command;  // argv; empty: the slot is only configured
  std::string command_text;          // the command as the file gives it (the slot's cmdline)
  bool shell = false;                // given as one string: /bin/sh -c runs it
  int command_line = 0;              // where the file gives the command
  Restart restart = Restart::never;
  int line = 0;
};

struct PlantInstance {
  std::string domain;
  std::string name;
  std::vector<PlantClient> clients;  // slots 1..30; slot 0 is the run manager's
  int line = 0;
};

struct PlantDomain {
  std::string name;
  std::string text;
  uint32_t instances = 1;
  int line = 0;
};

enum class Kind : uint16_t { bytes = 0, digital = 1, string = 2, mailbox = 3 };

// Type classes as the value conversion knows them; raw is any other.
enum class TypeClass : uint16_t { digital = 0, int16 = 1, real = 2, text = 3, int32 = 4, raw = 5 };

struct PlantType {
  std::string name;        // at most 16 characters
  Kind kind = Kind::bytes;
  uint16_t count = 0;      // tags of the type
  uint16_t size = 0;       // bytes: value bytes; string: the text buffer each tag gets
  TypeClass type_class = TypeClass::raw;
  bool per_app = false;
  int line = 0;
};

struct Plant {
  std::string file;
  std::string name;
  std::string program_dir;
  std::string app_dir;
  uint32_t segments = 16;
  uint32_t memories = 16;
  bool world = false;
  double stop_timeout_s = 5.0;
  std::vector<PlantDomain> domains;
  std::vector<PlantType> types;
  std::vector<PlantInstance> instances;
};

// Limits of the kernel that a plant file is checked against.
constexpr size_t kNameMax = 15;           // RTDB, domain, domain text and instance names
constexpr size_t kTypeNameMax = 16;
constexpr size_t kTaskMax = 31;
constexpr size_t kDescMax = 79;
constexpr size_t kCmdlineMax = 127;
constexpr size_t kDirMax = 63;
constexpr uint32_t kMaxApps = 128;        // applications a client id can name
constexpr uint32_t kMaxTypes = 199;       // type table slots a layout may use
constexpr uint32_t kMaxSegments = 65535 - 400;
constexpr uint32_t kMaxMemories = 65535;
constexpr size_t kClientSlots = 30;       // slots 1..30 of an instance

// The usiz the type table gets for a tag of each kind: a plain value's
// bytes, 2 for digital, and for strings and mailboxes the 32-bit record
// sizes 8 and 22, so that an RTDB is the same bytes whichever target made it
// (every process lays its buffers out by its own records, whatever usiz says).
uint16_t table_usiz(Kind kind, uint16_t size);

const char* kind_word(Kind kind);
const char* class_word(TypeClass type_class);
const char* restart_word(Restart restart);

// Reads and checks the whole file; throws Failure naming file, line and key.
Plant load_plant(const std::string& path);

}  // namespace rkctl
