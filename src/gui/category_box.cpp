#include "gui/category_box.h"

#include "gui/ui_text.h"
#include "model/download_job.h"

namespace fetchora {

namespace {

// The category under root that is the record or has the id; none when gone.
const DownloadJob* findCategory(const DownloadJob* root, const QVariant& data)
{
    if (root == nullptr)
        return nullptr;
    const bool byRecord = data.metaType() == QMetaType::fromType<void*>();
    if (byRecord ? root == data.value<void*>() : root->id == data.toInt())
        return root;
    for (const DownloadJob* child = root->firstChild(); child; child = child->nextSibling()) {
        if (!child->IsCategory())
            continue;
        if (const DownloadJob* found = findCategory(child, data))
            return found;
    }
    return nullptr;
}

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
    // A refill keeps the one retexting hook.
    if (!box->property("retextsCategories").toBool()) {
        box->setProperty("retextsCategories", true);
        retextCategoryItems(box, [root] { return root; });
    }
}

void retextCategoryItems(QComboBox* box, std::function<const DownloadJob*()> root)
{
    onLanguageChanged(box, [box, root = std::move(root)] {
        const DownloadJob* top = root();
        for (int i = 0; i < box->count(); ++i) {
            const QVariant data = box->itemData(i);
            if (!data.isValid())
                continue;
            const DownloadJob* category = findCategory(top, data);
            if (category == nullptr)
                continue;
            const QString old = box->itemText(i);
            qsizetype indent = 0;
            while (indent < old.size() && old[indent] == u' ')
                ++indent;
            box->setItemText(i, old.left(indent) + QString::fromStdString(category->GetDisplayName()));
        }
    });
}

DownloadJob* chosenCategory(const QComboBox* box)
{
    if (box->currentIndex() < 0)
        return nullptr;
    return static_cast<DownloadJob*>(box->currentData().value<void*>());
}

}  // namespace fetchora
