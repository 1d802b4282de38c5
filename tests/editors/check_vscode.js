// Checks the VS Code extension in editors/vscode: its JSON files parse, the
// debugger contribution offers the launch arguments that mirtolanc --dap
// reads and the devices that mirtolanc knows, and every regular expression
// of the grammar compiles and colours sample lines of this Forth as meant.
// Usage: node check_vscode.js EXTENSION_DIR MIRTOLANC
'use strict';
const fs = require('fs');
const path = require('path');
const { execFileSync } = require('child_process');

const [dir, mirtolanc] = process.argv.slice(2);
let failures = 0;
function check(ok, what) {
  if (!ok) {
    failures++;
    console.log('FAIL: ' + what);
  }
}
function readJson(name) {
  return JSON.parse(fs.readFileSync(path.join(dir, name), 'utf8'));
}

// ---- the extension's contributions
const pkg = readJson('package.json');
readJson('language-configuration.json');
const debuggers = pkg.contributes.debuggers;
check(debuggers.length === 1 && debuggers[0].type === 'mirtolan', 'one debugger of type mirtolan');
const launch = debuggers[0].configurationAttributes.launch;
for (const key of ['program', 'device', 'cells', 'opt', 'clock', 'stopOnEntry', 'pins', 'uartIn', 'adc', 'varbeg', 'zcall'])
  check(key in launch.properties, 'launch argument ' + key);
check(launch.required.includes('program'), 'program is required');
check(pkg.contributes.breakpoints.some((b) => b.language === 'mirtolan-forth'), 'breakpoints in .4th sources');
check(pkg.contributes.languages[0].extensions.includes('.4th'), '.4th is the language');
check(fs.existsSync(path.join(dir, pkg.main)), 'the extension script exists');
const devices = execFileSync(mirtolanc, ['--list-devices'], { encoding: 'utf8' })
  .split('\n').slice(1).filter((l) => l.trim()).map((l) => l.split(/\s+/)[0]);
check(JSON.stringify(launch.properties.device.enum) === JSON.stringify(devices),
  'the devices are those of mirtolanc --list-devices: ' + devices.join(' '));
const pins = new RegExp(launch.properties.pins.items.pattern);
const adc = new RegExp(launch.properties.adc.items.pattern);
check(pins.test('PD2=0@10ms') && !pins.test('PD2=2@10ms'), 'the pins pattern');
check(adc.test('ADC0=2.5@10ms') && !adc.test('ADC0=2.5'), 'the adc pattern');

// ---- the grammar
const grammar = readJson(pkg.contributes.grammars[0].path);
// Oniguruma's inline (?i) has no place in JavaScript's syntax: the flag instead.
function compile(source) {
  const caseless = source.includes('(?i)');
  return new RegExp(source.replace(/\(\?i\)/g, ''), caseless ? 'gi' : 'g');
}
// The grammar's rules in order, includes resolved, each with its regex.
function rules(list) {
  const out = [];
  for (const r of list) {
    if (r.include) out.push(...rules([grammar.repository[r.include.slice(1)]]));
    else if (r.patterns) out.push(...rules(r.patterns));
    else out.push(r);
  }
  return out;
}
const all = rules(grammar.patterns);
for (const r of all)
  for (const key of ['match', 'begin', 'end'])
    if (r[key]) {
      try {
        compile(r[key]);
      } catch (e) {
        check(false, key + ' ' + r[key] + ': ' + e.message);
      }
    }

// The scope of the first word of `line` at `column`, as a TextMate engine
// picks it: the rule matching earliest, the first in order among equals.
function scopeAt(line, column) {
  let pos = 0;
  while (pos <= line.length) {
    let best = null;
    for (const r of all) {
      const re = compile(r.match || r.begin);
      re.lastIndex = pos;
      const m = re.exec(line);
      if (m && (!best || m.index < best.m.index)) best = { r, m };
    }
    if (!best) return '';
    let end = best.m.index + best.m[0].length;
    if (best.r.begin) {
      const re = compile(best.r.end);
      re.lastIndex = end;
      const m = re.exec(line);
      end = m ? m.index + m[0].length : line.length;
    }
    if (column >= best.m.index && column < Math.max(end, best.m.index + 1)) {
      // A capture that covers the column names it more closely.
      const caps = best.r.captures || best.r.beginCaptures || {};
      let at = best.m.index;
      for (let i = 1; i < best.m.length; i++) {
        if (best.m[i] === undefined) continue;
        const start = line.indexOf(best.m[i], at);
        if (caps[i] && column >= start && column < start + best.m[i].length) return caps[i].name;
        at = start + best.m[i].length;
      }
      return best.r.name || '';
    }
    pos = Math.max(end, best.m.index + 1);
  }
  return '';
}
const samples = [
  ['\\\\ a comment, DUP', 5, 'comment.line'],
  ['DUP \\\\ after a word', 8, 'comment.line'],
  ['\\ a lone backslash is a word', 3, ''],
  ['( n -- n ) DUP', 2, 'comment.block'],
  ['( not closed', 8, 'comment.block'],
  ['(HIGH) 1234', 1, 'keyword.other'],
  [': twice DUP + ;', 0, 'keyword.other.definition.begin'],
  [': twice DUP + ;', 3, 'entity.name.function'],
  [': twice DUP + ;', 14, 'keyword.other.definition.end'],
  ['VARIABLE count', 10, 'variable.other.definition'],
  ['constant ten 10', 10, 'variable.other.constant.definition'],
  ['  0 10 DO I + LOOP', 7, 'keyword.control'],
  ['  0 10 DO I + LOOP', 14, 'keyword.control'],
  ['  0 10 do I + 2 +LOOP', 17, 'keyword.control'],
  ['CASE 1 OF red ENDOF DEFAULT blue ENDCASE', 20, 'keyword.control'],
  ['  $FF 0x1f -12', 2, 'constant.numeric.hex'],
  ['  $FF 0x1f -12', 7, 'constant.numeric.hex'],
  ['  $FF 0x1f -12', 12, 'constant.numeric.decimal'],
  ['$FF at the start of a line is assembler', 1, 'meta.embedded.line.assembly'],
  ["'A EMIT", 1, 'constant.character'],
  ['1+ XOR', 0, ''],
  ['$label: .db 5, "Hello"', 3, 'meta.embedded.line.assembly'],
  [': led-on $ sbi PORTB,0', 14, 'meta.embedded.line.assembly'],
  ['#PB5 &DDRB C!', 6, 'support.constant.register'],
];
for (const [line, column, scope] of samples) {
  const got = scopeAt(line, column);
  check(scope === '' ? got === '' : got.startsWith(scope), `"${line}" at ${column}: ${got || 'no scope'}, not ${scope || 'none'}`);
}

if (failures) {
  console.log(failures + ' failed');
  process.exit(1);
}
console.log('the VS Code extension: JSON, launch arguments, devices and grammar as meant');
