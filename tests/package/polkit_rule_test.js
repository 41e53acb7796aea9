// The package's polkit rule, evaluated as polkitd evaluates a rules file: the
// file's code runs once with a global `polkit`, and each registered rule is
// asked about an action for a subject. Usage: node polkit_rule_test.js FILE
"use strict";
const fs = require("fs");
const vm = require("vm");

const Result = { NO: "no", YES: "yes", AUTH_SELF: "auth_self", AUTH_ADMIN: "auth_admin", NOT_HANDLED: null };
const rules = [];
const polkit = {
    Result,
    addRule: (rule) => rules.push(rule),
    addAdminRule: () => {},
    log: () => {},
    spawn: () => { throw new Error("the rule must not start programs"); },
};
vm.runInNewContext(fs.readFileSync(process.argv[2], "utf8"), { polkit }, { filename: process.argv[2] });

// polkitd's answer: the first rule that returns something other than
// NOT_HANDLED (null or undefined) decides.
function decide(actionId, subject, details = {}) {
    const action = { id: actionId, lookup: (key) => details[key] };
    const full = Object.assign({ user: "alice", groups: [], local: true, active: true, pid: 1, session: "1" }, subject);
    full.isInGroup = (group) => full.groups.includes(group);
    full.isInNetGroup = () => false;
    for (const rule of rules) {
        const result = rule(action, full);
        if (result !== null && result !== undefined)
            return result;
    }
    return "not handled";
}

// systemd asks about manage-units with the unit and the verb as details.
const manage = "org.freedesktop.systemd1.manage-units";
const start = { unit: "veltrane-sync.service", verb: "start" };
const member = { groups: ["veltrane"] };
const cases = [
    ["a member at an active local session starts the machine's run", manage, member, start, "yes"],
    ["a member among other groups", manage, { groups: ["users", "veltrane", "audio"] }, start, "yes"],
    ["no member", manage, { groups: ["users", "sudo"] }, start, "not handled"],
    ["a group of a similar name", manage, { groups: ["veltrane-admins", "timeset"] }, start, "not handled"],
    ["a member at a remote session", manage, { groups: ["veltrane"], local: false }, start, "not handled"],
    ["a member at an inactive session", manage, { groups: ["veltrane"], active: false }, start, "not handled"],
    ["a member holds it loaded, to read how it ended", manage, member, { unit: "veltrane-sync.service", verb: "ref" },
     "yes"],
    ["a member stops the machine's run", manage, member, { unit: "veltrane-sync.service", verb: "stop" },
     "not handled"],
    ["a member restarts it", manage, member, { unit: "veltrane-sync.service", verb: "restart" }, "not handled"],
    ["a member starts the machine's timer", manage, member, { unit: "veltrane-sync.timer", verb: "start" },
     "not handled"],
    ["a member starts another unit", manage, member, { unit: "ssh.service", verb: "start" }, "not handled"],
    ["a member's unit files stay the administrator's", "org.freedesktop.systemd1.manage-unit-files", member, {},
     "not handled"],
    // timedated's set-time implies set-ntp and set-timezone: none is granted.
    ["setting any time stays the administrator's", "org.freedesktop.timedate1.set-time", member, {}, "not handled"],
    ["the time zone stays the administrator's", "org.freedesktop.timedate1.set-timezone", member, {},
     "not handled"],
    ["NTP stays the administrator's", "org.freedesktop.timedate1.set-ntp", member, {}, "not handled"],
    ["another service's action is not touched", "org.freedesktop.login1.reboot", member, {}, "not handled"],
];

let passed = 0, failed = 0;
if (rules.length !== 1) {
    console.log(`FAIL: the file registers ${rules.length} rules, not 1`);
    failed++;
}
for (const [name, actionId, subject, details, expected] of cases) {
    const got = decide(actionId, subject, details);
    if (got === expected) {
        passed++;
    } else {
        failed++;
        console.log(`FAIL: ${name}: ${got}, expected ${expected}`);
    }
}
console.log(`polkit: ${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
