// The explorer's favorites file (favorites.qvb).
#include "explorer/favorites_file.h"
#include "fuzz_input.h"

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::optional<FavoritesTree> tree = FavoritesTree::parse(fuzz::text(data, size));
    if (!tree)
        return 0;
    for (const Favorite& record : tree->records())
        tree->children(record.id);
    // A tree that parsed is written so that it parses again.
    if (!FavoritesTree::parse(tree->serialize()))
        __builtin_trap();
    return 0;
}
