"""The payments and their callback events.

Revision ID: 0001
Revises: (none)
"""

from __future__ import annotations

import sqlalchemy as sa
from alembic import op

revision = '0001'
down_revision = None
branch_labels = None
depends_on = None


def upgrade() -> None:
    op.create_table('vemrat_pay_payment',
    sa.Column('id', sa.Integer(), nullable=False),
    sa.Column('reference', sa.Uuid(), nullable=False),
    sa.Column('order_id', sa.String(length=128), nullable=True),
    sa.Column('amount', sa.Numeric(precision=14, scale=2), nullable=False),
    sa.Column('currency', sa.String(length=3), nullable=False),
    sa.Column('pay_mode', sa.String(length=8), nullable=False),
    sa.Column('recipient_account', sa.String(length=64), nullable=False),
    sa.Column('callback_url', sa.String(length=500), nullable=False),
    sa.Column('return_url', sa.String(length=500), nullable=False),
    sa.Column('pay_url', sa.String(length=500), nullable=False),
    sa.Column('status', sa.String(length=16), nullable=False),
    sa.Column('status_confirmed', sa.Boolean(), nullable=False),
    sa.Column('settled', sa.Boolean(), nullable=False),
    sa.Column('settle_amount', sa.Numeric(precision=14, scale=2), nullable=True),
    sa.Column('refunded', sa.Boolean(), nullable=False),
    sa.Column('fail_reason', sa.Text(), nullable=False),
    sa.Column('held_order_id', sa.String(length=128), nullable=False),
    sa.Column('note', sa.Text(), nullable=False),
    sa.Column('service_pay_status', sa.Integer(), nullable=True),
    sa.Column('service_pay_status_text', sa.Text(), nullable=False),
    sa.Column('service_settle_status', sa.Integer(), nullable=True),
    sa.Column('service_settle_status_text', sa.Text(), nullable=False),
    sa.Column('service_refund_status', sa.Integer(), nullable=True),
    sa.Column('service_refund_status_text', sa.Text(), nullable=False),
    sa.Column('service_amount', sa.Text(), nullable=False),
    sa.Column('service_settle_amount', sa.Text(), nullable=False),
    sa.Column('service_expired', sa.Text(), nullable=False),
    sa.Column('service_fail_reason', sa.Text(), nullable=False),
    sa.Column('created_at', sa.DateTime(timezone=True), nullable=False),
    sa.Column('updated_at', sa.DateTime(timezone=True), nullable=False),
    sa.Column('refreshed_at', sa.DateTime(timezone=True), nullable=True),
    sa.PrimaryKeyConstraint('id'),
    sa.UniqueConstraint('order_id'),
    sa.UniqueConstraint('reference')
    )
    with op.batch_alter_table('vemrat_pay_payment', schema=None) as batch_op:
        batch_op.create_index(batch_op.f('ix_vemrat_pay_payment_created_at'), ['created_at'], unique=False)
        batch_op.create_index(batch_op.f('ix_vemrat_pay_payment_held_order_id'), ['held_order_id'], unique=False)
        batch_op.create_index(batch_op.f('ix_vemrat_pay_payment_status'), ['status'], unique=False)

    op.create_table('vemrat_pay_callback_event',
    sa.Column('id', sa.Integer(), nullable=False),
    sa.Column('payment_id', sa.Integer(), nullable=True),
    sa.Column('reference', sa.Uuid(), nullable=True),
    sa.Column('body', sa.Text(), nullable=False),
    sa.Column('body_length', sa.Integer(), nullable=False),
    sa.Column('body_sha256', sa.String(length=64), nullable=False),
    sa.Column('signature', sa.String(length=255), nullable=False),
    sa.Column('verified', sa.Boolean(), nullable=False),
    sa.Column('order_id', sa.String(length=128), nullable=False),
    sa.Column('callback_status', sa.String(length=32), nullable=False),
    sa.Column('outcome', sa.String(length=16), nullable=False),
    sa.Column('detail', sa.Text(), nullable=False),
    sa.Column('received_at', sa.DateTime(timezone=True), nullable=False),
    sa.Column('processed_at', sa.DateTime(timezone=True), nullable=True),
    sa.ForeignKeyConstraint(['payment_id'], ['vemrat_pay_payment.id'], ondelete='SET NULL'),
    sa.PrimaryKeyConstraint('id')
    )
    with op.batch_alter_table('vemrat_pay_callback_event', schema=None) as batch_op:
        batch_op.create_index(batch_op.f('ix_vemrat_pay_callback_event_order_id'), ['order_id'], unique=False)
        batch_op.create_index(batch_op.f('ix_vemrat_pay_callback_event_payment_id'), ['payment_id'], unique=False)
        batch_op.create_index(batch_op.f('ix_vemrat_pay_callback_event_received_at'), ['received_at'], unique=False)



def downgrade() -> None:
    with op.batch_alter_table('vemrat_pay_callback_event', schema=None) as batch_op:
        batch_op.drop_index(batch_op.f('ix_vemrat_pay_callback_event_received_at'))
        batch_op.drop_index(batch_op.f('ix_vemrat_pay_callback_event_payment_id'))
        batch_op.drop_index(batch_op.f('ix_vemrat_pay_callback_event_order_id'))

    op.drop_table('vemrat_pay_callback_event')
    with op.batch_alter_table('vemrat_pay_payment', schema=None) as batch_op:
        batch_op.drop_index(batch_op.f('ix_vemrat_pay_payment_status'))
        batch_op.drop_index(batch_op.f('ix_vemrat_pay_payment_held_order_id'))
        batch_op.drop_index(batch_op.f('ix_vemrat_pay_payment_created_at'))

    op.drop_table('vemrat_pay_payment')
