/* A C host built against an installed QuorinCAPI: starts the library, evaluates one script and
 * shuts the library down again. */
#include <stdio.h>

#include <QuorinCAPI.h>

int main(void) {
  if (!TlxInitialize(17, 0)) return 1;
  const TlxSprigValue answer = TlxSprigExecute("6 * 7");
  TlxShutdown();
  printf("QuorinCAPI says 6 * 7 = %d\n", (int)(int32_t)answer.payload);
  return answer.kind == 2 && answer.payload == 42 ? 0 : 1;
}
