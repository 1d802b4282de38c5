// Starts `mirtolanc --dap` for debug sessions of type "mirtolan", and fills
// in a configuration for the .4th file in the editor when there is no
// launch.json (F5 on a Forth source). No build step: plain CommonJS.
const vscode = require('vscode');

function activate(context) {
  context.subscriptions.push(
    vscode.debug.registerDebugAdapterDescriptorFactory('mirtolan', {
      createDebugAdapterDescriptor() {
        const command = vscode.workspace.getConfiguration('mirtolan').get('mirtolanc', 'mirtolanc');
        return new vscode.DebugAdapterExecutable(command, ['--dap']);
      },
    }),
    vscode.debug.registerDebugConfigurationProvider('mirtolan', {
      resolveDebugConfiguration(folder, config) {
        if (!config.type && !config.request && !config.name) {
          const editor = vscode.window.activeTextEditor;
          if (!editor || editor.document.languageId !== 'mirtolan-forth') {
            return undefined; // nothing to debug: VS Code then offers to create a launch.json
          }
          config.type = 'mirtolan';
          config.request = 'launch';
          config.name = 'Debug the Forth source';
          config.program = '${file}';
          config.stopOnEntry = true;
        }
        if (!config.program) {
          return vscode.window.showInformationMessage('Give "program", the .4th source to debug').then(() => undefined);
        }
        return config;
      },
    })
  );
}

function deactivate() {}

module.exports = { activate, deactivate };
