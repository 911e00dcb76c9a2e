// The document of the single-document window.  It holds nothing: the view
// owns the vault.
#pragma once

class CRovErarodDoc {};
