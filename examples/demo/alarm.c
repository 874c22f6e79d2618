/* The alarm client: it sleeps until a message arrives in the mailbox
 * ALARM[0], takes every queued message and prints it. When its termination
 * flag is set it takes what is still queued, so that no message is lost,
 * and prints how many it received. */
#include "demo_common.h"

static unsigned long received;

/* Takes and prints every queued message. */
static void take_all(rk_client_id id, rk_tag_ref box) {
  char text[256];
  rk_message_record m;
  for (;;) {
    memset(&m, 0, sizeof m);
    m.data = text;
    m.size = sizeof text - 1;
    if (rk_read_mbx(id, box, &m, 0) != 0) return;
    text[m.length] = '\0';
    ++received;
    printf("alarm: %s\n", text);
  }
}

int main(void) {
  rk_client_id id = demo_register("ALARM", "alarm printer");
  rk_tag_ref box = {demo_type("ALARM", "ALARM"), 0};
  rk_message_record first;
  while (!demo_stop) {
    uint32_t position = 0;
    if (rk_change_wait(id, &box, 1, &position, &first) != 0 && rk_errno(id) == RK_ETERM) break;
    take_all(id, box);
    fflush(stdout);
  }
  take_all(id, box);
  printf("demo-alarm received=%lu\n", received);
  fflush(stdout);
  rk_proc_exit(id);
  return 0;
}
