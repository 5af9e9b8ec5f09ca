#pragma once
// A combo box that offers the categories of the document's tree as a flat
// list indented by depth, each item carrying its record.
//
// Thread: the GUI thread. The box borrows the records: it lives only as long
// as a modal dialog during which no category is removed.
#include <QComboBox>

#include <functional>

namespace fetchora {

class DownloadJob;

enum class CategoryOffer {
    Every,  // the whole tree, the root and the special categories included
    FileInto,  // where a finished job can be filed: "Downloaded" and the user's own
};

// Fills the box from root (may be none) and selects `current` when offered,
// else the first item.
void fillCategoryBox(QComboBox* box, DownloadJob* root, CategoryOffer offer, const DownloadJob* current);
// The record of the chosen item; none when the box is empty.
DownloadJob* chosenCategory(const QComboBox* box);

// On every switch of the language, gives each item of a box of categories
// (filled by fillCategoryBox, or with a category id as the item's data) the
// category's name as the tree under root() has it then, keeping the item's
// indent and the box's choice. Items whose category is gone are left alone.
void retextCategoryItems(QComboBox* box, std::function<const DownloadJob*()> root);

}  // namespace fetchora
