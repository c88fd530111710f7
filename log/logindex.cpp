#include "logindex.h"
#include <stdlib.h>
#include <string.h>

static unsigned Fold(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? (unsigned)(c - 'a' + 'A') : c;
}

unsigned HashFold(unsigned seed, const char *text, size_t len)
{
    unsigned h = seed;
    for (size_t i = 0; i < len && text[i]; i++) {
        h ^= Fold((unsigned char)text[i]);
        h *= 16777619u;
    }
    // A separator, so that ("ab", "c") and ("a", "bc") differ.
    h ^= 0x1F;
    h *= 16777619u;
    return h;
}

unsigned HashText(unsigned seed, const char *text)
{
    return HashFold(seed, text, (size_t)-1);
}

unsigned HashNumber(unsigned seed, int number)
{
    unsigned h = seed;
    unsigned v = (unsigned)number;
    for (int i = 0; i < 4; i++) {
        h ^= (v >> (8 * i)) & 0xFF;
        h *= 16777619u;
    }
    return h;
}

// Rebuilds the buckets at a new size; on failure the old ones stay (the
// chains are only longer).
static void SlotRehash(SlotIndex *ix, unsigned buckets)
{
    int *heads = (int *)malloc(buckets * sizeof(int));
    if (!heads)
        return;
    for (unsigned b = 0; b < buckets; b++)
        heads[b] = -1;
    for (int s = 0; s < ix->Count; s++) {
        unsigned b = ix->Hashes[s] & (buckets - 1);
        ix->Next[s] = heads[b];
        heads[b] = s;
    }
    free(ix->Heads);
    ix->Heads = heads;
    ix->BucketCount = buckets;
}

int IndexReserve(SlotIndex *ix)
{
    if (!ix->Heads) {
        SlotRehash(ix, 256);
        if (!ix->Heads)
            return 1;
    }
    if (ix->Count >= ix->Capacity) {
        int grown = ix->Capacity ? ix->Capacity + ix->Capacity / 2 : 256;
        if (grown <= ix->Capacity || grown > (1 << 28))
            return 1;
        int *next = (int *)realloc(ix->Next, (size_t)grown * sizeof(int));
        if (!next)
            return 1;
        ix->Next = next;
        unsigned *hashes = (unsigned *)realloc(ix->Hashes, (size_t)grown * sizeof(unsigned));
        if (!hashes)
            return 1;
        ix->Hashes = hashes;
        ix->Capacity = grown;
    }
    if ((unsigned)ix->Count >= ix->BucketCount && ix->BucketCount < 0x40000000u)
        SlotRehash(ix, ix->BucketCount * 2);
    return 0;
}

void IndexPut(SlotIndex *ix, unsigned hash)
{
    int s = ix->Count++;
    unsigned b = hash & (ix->BucketCount - 1);
    ix->Hashes[s] = hash;
    ix->Next[s] = ix->Heads[b];
    ix->Heads[b] = s;
}

int IndexFirst(const SlotIndex *ix, unsigned hash)
{
    if (!ix->Heads)
        return -1;
    return ix->Heads[hash & (ix->BucketCount - 1)];
}

int IndexNext(const SlotIndex *ix, int slot)
{
    return ix->Next[slot];
}

void IndexFree(SlotIndex *ix)
{
    free(ix->Heads);
    free(ix->Next);
    free(ix->Hashes);
    memset(ix, 0, sizeof *ix);
}

int PrefixParts(const char *path)
{
    int n = 0;
    for (const char *p = path; *p; p++)
        if (*p == '\\')
            n++;
    return n;
}

// Rebuilds the buckets in node order, so each chain stays in adding order.
static void PrefixRehash(PrefixIndex *ix, unsigned buckets)
{
    int *heads = (int *)malloc(buckets * sizeof(int));
    int *tails = (int *)malloc(buckets * sizeof(int));
    if (!heads || !tails) {
        free(heads);
        free(tails);
        return;
    }
    for (unsigned b = 0; b < buckets; b++)
        heads[b] = tails[b] = -1;
    for (int n = 0; n < ix->Count; n++) {
        unsigned b = ix->Nodes[n].Hash & (buckets - 1);
        ix->Nodes[n].Next = -1;
        if (tails[b] < 0)
            heads[b] = n;
        else
            ix->Nodes[tails[b]].Next = n;
        tails[b] = n;
    }
    free(ix->Heads);
    free(ix->Tails);
    ix->Heads = heads;
    ix->Tails = tails;
    ix->BucketCount = buckets;
}

int PrefixReserve(PrefixIndex *ix, int n)
{
    if (!ix->Heads) {
        PrefixRehash(ix, 256);
        if (!ix->Heads)
            return 1;
    }
    int need = ix->Count + n;
    if (need > ix->Capacity) {
        int grown = ix->Capacity ? ix->Capacity : 256;
        while (grown < need && grown < (1 << 28))
            grown += grown / 2;
        if (grown < need)
            return 1;
        PrefixNode *nodes = (PrefixNode *)realloc(ix->Nodes, (size_t)grown * sizeof(PrefixNode));
        if (!nodes)
            return 1;
        ix->Nodes = nodes;
        ix->Capacity = grown;
    }
    unsigned buckets = ix->BucketCount;
    while ((unsigned)need > buckets && buckets < 0x40000000u)
        buckets *= 2;
    if (buckets != ix->BucketCount)
        PrefixRehash(ix, buckets);
    return 0;
}

void PrefixAddOne(PrefixIndex *ix, int slot, const char *path, int len)
{
    if (ix->Count >= ix->Capacity)
        return;
    int n = ix->Count++;
    PrefixNode *node = &ix->Nodes[n];
    node->Hash = HashFold(HASH_START, path, (size_t)len);
    node->Len = len;
    node->Slot = slot;
    node->Next = -1;
    unsigned b = node->Hash & (ix->BucketCount - 1);
    if (ix->Tails[b] < 0)
        ix->Heads[b] = n;
    else
        ix->Nodes[ix->Tails[b]].Next = n;
    ix->Tails[b] = n;
}

void PrefixAddAll(PrefixIndex *ix, int slot, const char *path)
{
    for (int i = 0; path[i]; i++)
        if (path[i] == '\\')
            PrefixAddOne(ix, slot, path, i + 1);
}

int PrefixFirst(const PrefixIndex *ix, unsigned hash)
{
    if (!ix->Heads)
        return -1;
    return ix->Heads[hash & (ix->BucketCount - 1)];
}

void PrefixFree(PrefixIndex *ix)
{
    free(ix->Heads);
    free(ix->Tails);
    free(ix->Nodes);
    memset(ix, 0, sizeof *ix);
}
