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

// Nodes keyed by backslash-ended leading parts of directory paths, for the
// shared-prefix look-up of directory entries. Each bucket keeps its nodes
// in the order they were added, so when slots are added in rising order a
// walk meets the lowest slot first.
struct PrefixNode {
    unsigned Hash;
    int Len;             // length of the leading part, its last char a backslash
    int Slot;
    int Next;            // next node in the bucket, -1 at the end
};

struct PrefixIndex {
    int *Heads, *Tails;
    PrefixNode *Nodes;
    unsigned BucketCount;
    int Count, Capacity;
};

// Makes room for n more nodes. 0 = ready, 1 = out of memory.
int PrefixReserve(PrefixIndex *ix, int n);
// Number of backslashes in path: the nodes PrefixAddAll needs.
int PrefixParts(const char *path);
// Adds one node for the first len characters of path.
void PrefixAddOne(PrefixIndex *ix, int slot, const char *path, int len);
// Adds a node for every backslash-ended leading part of path.
void PrefixAddAll(PrefixIndex *ix, int slot, const char *path);
int PrefixFirst(const PrefixIndex *ix, unsigned hash);   // node number or -1
void PrefixFree(PrefixIndex *ix);
