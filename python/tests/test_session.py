"""A session of the sample application driven from Python."""

import json
import os

import pytest

from tarnwick import Session, TarnwickError
from tarnwick.session import _Bare


def test_properties_read_and_set_and_operations_answer(session):
    edit = session.control("Edit[0]")
    edit.Text = "hello"
    assert edit.Text == "hello"
    edit.AppendText(" world")
    assert edit.Text == "hello world"
    assert session.control("ComboBox[0]").GetComboItems() == ["Red", "Green", "Blue", "Yellow"]
    # Every line of a list is a result; each control's kind is named "kind".
    rows = session.command("list")
    assert {row["type"] for row in rows} == {"result"}
    assert any(row.get("kind") == "ComboBox" for row in rows)


def test_a_handler_that_answers_true_cancels_the_event(session):
    button = session.control("Press me")
    seen = []
    session.watch(button, "Clicking", lambda event: seen.append(event) or True)
    button.PerformClick("")
    assert session.text("#102") == "Clicks: 0"
    session.unwatch(button, "Clicking")
    session.watch(button, "Clicking", lambda event: False)
    button.PerformClick("")
    assert session.text("#102") == "Clicks: 1"
    assert [(e.name, e.control) for e in seen] == [("Clicking", "Button[0]")]
    session.unwatch(button, "Clicking")
    # Named with both --cancel and --ask, the host cancels it and asks nobody.
    session.command("watch", button, _Bare("--cancel"), _Bare("Clicking"), _Bare("--ask"))
    button.PerformClick("")
    assert session.text("#102") == "Clicks: 1"
    assert [(e.name, e.id) for e in session.events] == [("Clicking", None)]
    # An answer that no event waits for is no command: the next command gets its own answer.
    session._send("answer 99 allow")
    assert session.text("#102") == "Clicks: 1"


def test_failures_are_raised_with_the_hosts_message(session):
    with pytest.raises(TarnwickError, match="no such control: Nothing"):
        session.control("Nothing[0]").Text
    with pytest.raises(AttributeError, match="no property or operation Fly"):
        session.control("Edit[0]").Fly()
    # What every interface inherits is no operation of a control.
    with pytest.raises(AttributeError, match="no property or operation Release"):
        session.control("Edit[0]").Release()
    # The session goes on after a failure.
    assert session.control("Edit[2]").ReadOnly is True


def test_the_session_ends_by_detaching_and_leaves_the_application_running():
    command = json.loads(os.environ["TARNWICK_HOST_COMMAND"])
    folder = os.environ["TARNWICK_BIN"]
    with Session(command=command, cwd=folder) as first:
        first.attach("tarnwick_sampleapp.exe")
        first.control("Edit[0]").Text = "still here"
    assert first.close() == 0
    with Session(command=command, cwd=folder) as second:
        second.attach(running="tarnwick_sampleapp")
        assert second.control("Edit[0]").Text == "still here"
        second.command("blocks")
        second.command("close")
        second.command("wait-exit")


def test_menus_and_a_picture_of_one_control(session):
    states = {item["path"]: (item["checked"], item["disabled"]) for item in session.menu_list()}
    assert states["File/Show clicks"] == (True, False) and states["File/Greet"] == (False, True)
    session.menu("file/show &clicks")
    assert session.text("#116") == "Last: clicks hidden"
    path = os.path.join(os.environ["TARNWICK_BIN"], "python-list.png")
    assert session.picture("python-list.png", control="#115")["result"] is True
    assert 0 < os.path.getsize(path) < 100_000
    os.remove(path)
