#include "gui/category_box.h"

#include "model/download_job.h"

namespace fetchora {

namespace {

bool offered(const DownloadJob& node, CategoryOffer offer)
{
    if (offer == CategoryOffer::Every)
        return true;
    return node.GetCategoryKind() == CategoryKind::User || node.GetCategoryKind() == CategoryKind::Downloaded;
}

void addCategories(QComboBox* box, DownloadJob* node, CategoryOffer offer, int depth)
{
    int childDepth = depth;
    if (offered(*node, offer)) {
        box->addItem(QString(depth * 4, u' ') + QString::fromStdString(node->GetDisplayName()),
                     QVariant::fromValue(static_cast<void*>(node)));
        ++childDepth;
    }
    for (DownloadJob* child = node->firstChild(); child; child = child->nextSibling()) {
        if (child->IsCategory())
            addCategories(box, child, offer, childDepth);
    }
}

}  // namespace

void fillCategoryBox(QComboBox* box, DownloadJob* root, CategoryOffer offer, const DownloadJob* current)
{
    box->clear();
    if (root == nullptr)
        return;
    addCategories(box, root, offer, 0);
    const int index = box->findData(QVariant::fromValue(static_cast<void*>(const_cast<DownloadJob*>(current))));
    box->setCurrentIndex(index >= 0 ? index : 0);
}

DownloadJob* chosenCategory(const QComboBox* box)
{
    if (box->currentIndex() < 0)
        return nullptr;
    return static_cast<DownloadJob*>(box->currentData().value<void*>());
}

}  // namespace fetchora
