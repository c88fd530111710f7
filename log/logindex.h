// Hash indexes over the inventory lists, used only while the log is read.
// A look-up walks every slot whose key hash matches and the caller keeps the
// lowest matching slot, which is exactly what a linear scan from the start
// of the list would have found; the index only spares the comparisons.
#pragma once
#include <stddef.h>

// Hash of text under the ASCII case folding of TextEqualNoCase, continued
// from seed (HASH_START for a fresh key), so several fields make one key.
enum : unsigned { HASH_START = 2166136261u };
unsigned HashFold(unsigned seed, const char *text, size_t len);
unsigned HashText(unsigned seed, const char *text);
unsigned HashNumber(unsigned seed, int number);

// One node per list slot, slots added in order 0, 1, 2 ...
struct SlotIndex {
    int *Heads;          // per bucket: newest slot, -1 when empty
    int *Next;           // per slot: next older slot in its bucket
    unsigned *Hashes;    // per slot
    unsigned BucketCount;  // a power of two
    int Count, Capacity;
};

// Makes room for one more slot. 0 = ready, 1 = out of memory.
int IndexReserve(SlotIndex *ix);
// Adds the next slot (Count) with its hash; IndexReserve must have succeeded.
void IndexPut(SlotIndex *ix, unsigned hash);
// Chain walk: first candidate for hash, then the next ones; -1 at the end.
// Candidates may have other hashes; compare Hashes[slot] first.
int IndexFirst(const SlotIndex *ix, unsigned hash);
int IndexNext(const SlotIndex *ix, int slot);
void IndexFree(SlotIndex *ix);

// Every backslash-ended leading part of each directory path, for the
// shared-prefix look-up of directory entries.
struct PrefixNode {
    unsigned Hash;
    int Len;             // length of the leading part, its last char a backslash
    int Slot;
    int Next;            // next node in the bucket, -1 at the end
};

struct PrefixIndex {
    int *Heads;
    PrefixNode *Nodes;
    unsigned BucketCount;
    int Count, Capacity;
};

// Makes room for the leading parts of path. 0 = ready, 1 = out of memory.
int PrefixReserve(PrefixIndex *ix, const char *path);
// Registers every backslash-ended leading part of path for slot;
// PrefixReserve must have succeeded for the same path.
void PrefixAdd(PrefixIndex *ix, int slot, const char *path);
int PrefixFirst(const PrefixIndex *ix, unsigned hash);   // node number or -1
void PrefixFree(PrefixIndex *ix);
