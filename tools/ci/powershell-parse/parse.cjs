// Parses each PowerShell file named on the command line with tree-sitter's
// PowerShell grammar (WebAssembly, so nothing is compiled here) and reports
// every place the grammar cannot read. Exits 1 when any file has one.
'use strict';
const fs = require('fs');
const { Parser, Language } = require('web-tree-sitter');

function problems(node, found) {
    if (node.isError || node.isMissing) {
        found.push(node);
    } else if (node.hasError) {
        for (const child of node.children) {
            problems(child, found);
        }
    }
    return found;
}

(async () => {
    await Parser.init();
    const grammar = require.resolve('tree-sitter-powershell/tree-sitter-powershell.wasm');
    const parser = new Parser();
    parser.setLanguage(await Language.load(grammar));
    let failed = false;
    for (const file of process.argv.slice(2)) {
        const text = fs.readFileSync(file, 'utf8');
        const tree = parser.parse(text);
        for (const node of problems(tree.rootNode, [])) {
            const at = node.startPosition;
            const what = node.isMissing ? `missing ${node.type}` : 'cannot parse';
            const excerpt = JSON.stringify(text.slice(node.startIndex, node.startIndex + 60));
            console.error(`${file}:${at.row + 1}:${at.column + 1}: ${what}: ${excerpt}`);
            failed = true;
        }
        if (!tree.rootNode.hasError) {
            console.log(`${file}: parses`);
        }
    }
    process.exit(failed ? 1 : 0);
})().catch((error) => {
    console.error(error);
    process.exit(2);
});
