// The words of deployment_table.def's ROW and OTHER_OUTCOME entries, for
// whoever compiles the table (keymendc's view, the docs' printer).
#pragma once

enum class Output { Report, Summary, Compliant, Nothing };
enum class Error { Reason, NoReason };
