// How a monitoring command reaches an RTDB: attached by name without
// registering (ls, dump, top), or registered as a client of its own in a
// free slot of an instance (get, set, watch, send, mbx, signal, stop).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rk.h"

namespace rkctl {

// --rtdb, else RKNAME, else the one RTDB there is.
struct Target {
  std::string rtdb;       // empty: as said above
  std::string instance;   // "DOMAIN/INSTANCE"; empty: the first running instance
};

// Attached to an RTDB for as long as it lives.
class Attached {
 public:
  explicit Attached(const std::string& rtdb);
  ~Attached();
  Attached(const Attached&) = delete;
  Attached& operator=(const Attached&) = delete;
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

// The domain and instance names of a running application.
struct InstanceName {
  std::string domain;
  std::string instance;
};
// Application `app`, or false when it does not run.
bool running_instance(int app, InstanceName* out);

// A client of the attached RTDB under the first free task of rkctl.1 ..
// rkctl.30 (a slot whose tool was killed is taken back); it leaves
// when destroyed, and a Ctrl-C ends any wait of it (rk_wait fails with 27).
class Session {
 public:
  // `desc` is the slot's description while the tool is registered.
  explicit Session(const Target& target, const std::string& desc = "rkctl");
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  rk_client_id id() const { return id_; }
  const InstanceName& where() const { return where_; }
  const std::string& rtdb() const { return attached_.name(); }

 private:
  Attached attached_;
  InstanceName where_;
  rk_client_id id_ = 0;
};

// The names of every RTDB on the machine.
std::vector<std::string> rtdb_names();

}  // namespace rkctl
