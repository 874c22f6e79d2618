/* A whole life of an RTDB in one C program: a run manager creates it and
 * starts an application, a client registers, takes the database lock, keeps
 * a block of shared kernel memory for a while, and everything ends again. */
#include <stdio.h>
#include <string.h>

#include "rk.h"

static int fail(const char* what, int result) {
  printf("%s failed: %s (%d)\n", what, rk_strerror(result), result);
  return 1;
}

int main(void) {
  rk_kusr plant;
  rk_type_entry analog;
  static rk_cpt_entry slots[31];   /* the instance's slot template, all free */
  memset(&plant, 0, sizeof plant);
  memset(&analog, 0, sizeof analog);
  strcpy(plant.name, "PLANT");
  plant.instances = 1;
  analog.stat = 0;       /* plain values */
  analog.max = 100;      /* 100 tags */
  analog.usiz = 4;       /* of 4 bytes each */
  analog.per_app = 1;
  strcpy(analog.name, "ANALOG");

  int index = rk_create_rtdb("/opt/plant", "/opt/plant/app", "Hello", &plant, 1, &analog, 1, 0, 4, 0);
  if (index < 0) return fail("rk_create_rtdb", index);
  int app = rk_init_app("Hello", "PLANT", "MAIN", slots);
  if (app < 0) return fail("rk_init_app", app);

  int16_t id = rk_proc_init_app("WORKER", "example client", "Hello", "PLANT", "MAIN");
  if (id < 0) return fail("rk_proc_init_app", id);

  rk_mem_handle block;
  void* address = NULL;
  uint32_t bytes = 0;
  if (rk_lock(id) != 0) return fail("rk_lock", rk_errno(id));
  if (rk_alloc_mem(id, 100, &block) != 0) return fail("rk_alloc_mem", rk_errno(id));
  if (rk_access_mem(id, block, &address, &bytes) != 0) return fail("rk_access_mem", rk_errno(id));
  strcpy((char*)address, "shared kernel memory");
  printf("block %u: %u bytes at %p: %s\n", (unsigned)block, (unsigned)bytes, address, (char*)address);
  if (rk_free_mem(id, block) != 0) return fail("rk_free_mem", rk_errno(id));
  if (rk_unlock(id) != 0) return fail("rk_unlock", rk_errno(id));

  if (rk_proc_exit(id) != 0) return fail("rk_proc_exit", -1);
  if (rk_exit_app((rk_client_id)(app << 8)) != 0) return fail("rk_exit_app", -1);
  int first = 0;
  printf("RTDB %d deleted: rk_map_firstkgd gives %d\n", index, rk_map_firstkgd(&first));
  return 0;
}
