#include <vector>

#include "ascii_case.h"
#include "delete_key_repeat.h"
#include "installer_data_survey.h"
#include "stages.h"

namespace {

// What became of one product registration in this run.
struct ProductDeletion {
    const FoundRegistration* found = nullptr;
    bool stillDamaged = false;  // its tests passed again right before
    RegResult result = REG_OK;  // of the deletion, or why the tests did not pass
};

const ProductDeletion* DealtWith(const std::vector<ProductDeletion>& done,
                                 const FoundRegistration& found) {
    for (const ProductDeletion& deletion : done) {
        if (deletion.found->productRoot == found.productRoot &&
            EqualsIgnoreAsciiCase(deletion.found->productKeyPath.c_str(),
                                  found.productKeyPath.c_str())) {
            return &deletion;
        }
    }
    return nullptr;
}

// The product registration first, tested again right before: what changed
// since the survey (and so since the backup) is not deleted.
ProductDeletion DeleteProductRegistration(const FoundRegistration& found) {
    ProductDeletion deletion;
    deletion.found = &found;
    deletion.stillDamaged = StillDamaged(found, &deletion.result);
    if (deletion.stillDamaged) {
        deletion.result = DeleteKeyRepeat(found.productRoot, found.productKeyPath.c_str());
    }
    return deletion;
}

// The installer data goes only once its product registration is gone: the
// next run starts from the installer data, and would otherwise never find a
// product registration that stayed.
RegResult DeleteInstallerData(const ProductDeletion& product, const FoundRegistration& found) {
    if (!product.stillDamaged) {
        return product.result;
    }
    if (product.result != REG_OK) {
        return kKeptForProductRegistration;
    }
    return DeleteKeyRepeat(HKEY_LOCAL_MACHINE_ROOT, found.dataKeyPath.c_str());
}

}  // namespace

// A product registration that two installer data keys name is dealt with
// once, for the first; the second's installer data follows its fate.
bool DeleteEveryRegistration(const Options&, RunRecord* record) {
    std::vector<ProductDeletion> done;
    for (Registration& registration : record->registrations) {
        if (registration.fate != RegistrationFate::Found) {
            continue;
        }
        const FoundRegistration& found = registration.found;
        const ProductDeletion* earlier = DealtWith(done, found);
        if (earlier == nullptr) {
            done.push_back(DeleteProductRegistration(found));
            record->deletions.push_back({registration.productKey, done.back().result});
            earlier = &done.back();
        }
        RegResult data = DeleteInstallerData(*earlier, found);
        record->deletions.push_back({registration.dataKey, data});
        registration.fate = earlier->result == REG_OK && data == REG_OK ? RegistrationFate::Removed
                                                                        : RegistrationFate::Remains;
    }
    return true;
}
