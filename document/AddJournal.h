// The add journal's examination, for the document and the vault tool. It
// lives beside the writer, which must never overwrite a journal that still
// belongs to a vault; this header keeps the document's name for it.
#pragma once

#include "vault/writer/AddJournalCheck.h"
