// The inventory as plain text, one line per value or entry, for tests and
// tools. Paths and texts are written as stored, between double quotes.
#pragma once
#include <stddef.h>
#include <stdio.h>

// Receives each line of the text (without its line end).
typedef void (*DumpSink)(void *context, const char *line);

void DumpInventory(DumpSink sink, void *context);
void DumpInventoryToFile(FILE *out);
