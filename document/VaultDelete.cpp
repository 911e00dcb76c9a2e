// Deleting marked entries from the vault: the model's side of the Delete
// command and of replacing an entry's content.
#include "document/VaultModel.h"

int CVaultModel::DelZipFromFile(bool withList) {
    (void)withList;
    return static_cast<int>(m_entries.size());
}
