#include "support/waiting_clients.h"

#include <sched.h>

#include <chrono>
#include <string>

#include "core/client_ids.h"
#include "core/attachment.h"

namespace rk::test {

CptEntry& make_live(uint16_t id, uint32_t pid, uint16_t prty) {
  const Kgd* kgd = attachment().kgd;
  CptEntry& e = *slot_entry(kgd, id);
  e.stat = kStatConfigured | kStatLive;
  e.pid = pid;
  e.id = id;
  e.own_bit = 1u << slot_of(id);
  e.prty = prty;
  app_block(kgd, static_cast<uint32_t>(app_index(id)))->registered |= e.own_bit;
  return e;
}

std::unique_ptr<Client> start_client(uint16_t id, uint16_t prty) {
  auto client = std::make_unique<Client>();
  client->ok("rtdbopen " + std::to_string(attachment().kgd->index));
  make_live(id, static_cast<uint32_t>(client->pid()), prty);
  client->ok("openev " + std::to_string(id));
  return client;
}

bool fall_asleep(Client& client, uint16_t id, int mode) {
  const std::string who = " " + std::to_string(id);
  if (client.call("dblock" + who) != "ok") return false;
  client.send("wait" + who + " " + std::to_string(mode));
  return reaches_state(*slot_entry(attachment().kgd, id), static_cast<uint16_t>(mode + 1));
}

bool reaches_state(const CptEntry& entry, uint16_t state) {
  // Another process writes the field: read it afresh every time.
  const volatile uint16_t& seen = entry.wait_state;
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (seen != state) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    sched_yield();
  }
  return true;
}

}  // namespace rk::test
