// Registry keys that an uninstall never deletes: a root's direct children
// and the keys that Windows and every product share (see keyguard.cpp for
// the table). Used by the tree deletion and by the walk up empty parents.
#pragma once

// 1 when the key under log root 0..4 is protected. The text is compared
// without regard to case, blanks around a name, or leading, trailing and
// doubled backslashes, so that no spelling lets a protected key pass. An
// empty key (the root itself) and an unknown root count as protected.
int IsProtectedKey(int root, const char *key);

// 1 when the key text is plainly spelt: not empty, no leading, trailing or
// doubled backslash, no control character.
int IsPlainKey(const char *key);
