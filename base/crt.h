// The few C library functions UNINSTAL.EXE needs, so that it imports no C
// run-time DLL (Windows 95 has none) and holds no code newer than the i486.
// Linked into the program only. A test build defines KV_CRT_TEST and gets
// every function renamed (memcpy -> kvcrt_memcpy), to compare it with the
// system's own beside it.
#pragma once
#include <stddef.h>

#ifdef KV_CRT_TEST
#define KV_CRT_NAME(name) kvcrt_##name
#else
#define KV_CRT_NAME(name) name
#endif

extern "C" {

void *KV_CRT_NAME(memcpy)(void *dst, const void *src, size_t n);
void *KV_CRT_NAME(memmove)(void *dst, const void *src, size_t n);
void *KV_CRT_NAME(memset)(void *dst, int c, size_t n);
int KV_CRT_NAME(memcmp)(const void *a, const void *b, size_t n);
void *KV_CRT_NAME(memchr)(const void *s, int c, size_t n);

size_t KV_CRT_NAME(strlen)(const char *s);
size_t KV_CRT_NAME(strnlen)(const char *s, size_t max);
char *KV_CRT_NAME(strchr)(const char *s, int c);
char *KV_CRT_NAME(strrchr)(const char *s, int c);
int KV_CRT_NAME(strcmp)(const char *a, const char *b);
int KV_CRT_NAME(strncmp)(const char *a, const char *b, size_t n);
char *KV_CRT_NAME(strpbrk)(const char *s, const char *accept);
char *KV_CRT_NAME(strstr)(const char *haystack, const char *needle);
char *KV_CRT_NAME(_strdup)(const char *s);
long KV_CRT_NAME(strtol)(const char *text, char **end, int base);

void *KV_CRT_NAME(malloc)(size_t n);
void *KV_CRT_NAME(calloc)(size_t count, size_t size);
void *KV_CRT_NAME(realloc)(void *p, size_t n);
void KV_CRT_NAME(free)(void *p);

// 64-bit division, which a 32-bit compiler calls for "/" and "%".
long long KV_CRT_NAME(__divdi3)(long long a, long long b);
long long KV_CRT_NAME(__moddi3)(long long a, long long b);
unsigned long long KV_CRT_NAME(__udivdi3)(unsigned long long a, unsigned long long b);
unsigned long long KV_CRT_NAME(__umoddi3)(unsigned long long a, unsigned long long b);

}
