// Prints each deployment named on the command line as keymendc's table gives
// it, "NAME COMMAND CODE...", for check-deploy-scripts to hold each ready-made
// script to: its command and the exit codes it passes on.
#include <cstdio>

#include "deployment_view.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        Deployment deployment = Deployment::IntuneDetection;
        if (!ParseDeployment(argv[i], &deployment)) {
            std::fprintf(stderr, "no deployment %s in keymendc's table\n", argv[i]);
            return 1;
        }
        std::printf("%s %s", DeploymentName(deployment), DeploymentCommand(deployment));
        for (int code : ListedExitCodes(deployment)) {
            std::printf(" %d", code);
        }
        std::printf("\n");
    }
    return 0;
}
