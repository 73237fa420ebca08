// Prints what makes a folder protected as keymendc compiles it from
// protected_folder.def, one "NAME VALUE..." line per setting that each
// ready-made script holds, for check-deploy-scripts to compare.
#include <cstdio>

int main() {
    std::printf("trustedSids");
#define TRUSTED_SID(sid, who) std::printf(" %s", sid);
#include "protected_folder.def"
    unsigned long writeRights = 0
#define WRITE_RIGHT(mask, what) | (mask)
#include "protected_folder.def"
        ;
    std::printf("\nwriteRights 0x%08lX\ngrantingAces", writeRights);
#define GRANTING_ACE(type) std::printf(" %d", type);
#include "protected_folder.def"
    std::printf("\ndenyingAces");
#define DENYING_ACE(type) std::printf(" %d", type);
#include "protected_folder.def"
    unsigned skippedAceFlags = 0
#define SKIPPED_ACE_FLAG(flag) | (flag)
#include "protected_folder.def"
        ;
    std::printf("\nskippedAceFlags 0x%02X\n", skippedAceFlags);
    return 0;
}
