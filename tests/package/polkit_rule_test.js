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
function decide(actionId, subject) {
    const action = { id: actionId, lookup: () => undefined };
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

const setTime = "org.freedesktop.timedate1.set-time";
const cases = [
    ["a member at an active local session sets the time", setTime, { groups: ["veltrane"] }, "yes"],
    ["a member among other groups", setTime, { groups: ["users", "veltrane", "audio"] }, "yes"],
    ["no member", setTime, { groups: ["users", "sudo"] }, "not handled"],
    ["a group of a similar name", setTime, { groups: ["veltrane-admins", "timeset"] }, "not handled"],
    ["a member at a remote session", setTime, { groups: ["veltrane"], local: false }, "not handled"],
    ["a member at an inactive session", setTime, { groups: ["veltrane"], active: false }, "not handled"],
    ["the time zone stays the administrator's", "org.freedesktop.timedate1.set-timezone", { groups: ["veltrane"] },
     "not handled"],
    ["NTP stays the administrator's", "org.freedesktop.timedate1.set-ntp", { groups: ["veltrane"] }, "not handled"],
    ["the hardware clock's mode stays the administrator's", "org.freedesktop.timedate1.set-local-rtc",
     { groups: ["veltrane"] }, "not handled"],
    ["another service's action is not touched", "org.freedesktop.login1.reboot", { groups: ["veltrane"] },
     "not handled"],
];

let passed = 0, failed = 0;
if (rules.length !== 1) {
    console.log(`FAIL: the file registers ${rules.length} rules, not 1`);
    failed++;
}
for (const [name, actionId, subject, expected] of cases) {
    const got = decide(actionId, subject);
    if (got === expected) {
        passed++;
    } else {
        failed++;
        console.log(`FAIL: ${name}: ${got}, expected ${expected}`);
    }
}
console.log(`polkit: ${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
